#include "platform/jack/jack_port_watch.h"

namespace q9m::platform::jack {

namespace {

// Waits on the client's count of port notices; the client stays active while this lives.
class JackPortWatch final : public ChangeCountWatch {
 public:
  // `client` has been given a Watch, which this gives back.
  explicit JackPortWatch(std::shared_ptr<JackClient> client)
      : ChangeCountWatch(std::shared_ptr<ChangeCount>(client, &client->PortChanges())),
        client_(std::move(client)) {}
  ~JackPortWatch() override { client_->Unwatch(); }

 private:
  std::shared_ptr<JackClient> client_;
};

}  // namespace

std::unique_ptr<PortWatch> WatchJackPorts(std::shared_ptr<JackClient> client) {
  if (!client->Watch()) return MakePeriodicPortWatch();
  return std::make_unique<JackPortWatch>(std::move(client));
}

}  // namespace q9m::platform::jack
