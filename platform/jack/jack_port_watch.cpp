#include "platform/jack/jack_port_watch.h"

namespace q9m::platform::jack {

namespace {

class JackPortWatch final : public PortWatch {
 public:
  // `client` has been given a Watch, which this gives back.
  explicit JackPortWatch(std::shared_ptr<JackClient> client)
      : client_(std::move(client)), seen_(client_->PortChanges().Now()) {}
  ~JackPortWatch() override { client_->Unwatch(); }

  bool Wait(PortWatchClock::time_point deadline) override {
    if (!client_->PortChanges().WaitPast(seen_, deadline)) return false;
    seen_ = client_->PortChanges().Now();
    return true;
  }

 private:
  std::shared_ptr<JackClient> client_;
  uint64_t seen_;
};

}  // namespace

std::unique_ptr<PortWatch> WatchJackPorts(std::shared_ptr<JackClient> client) {
  if (!client->Watch()) return MakePeriodicPortWatch();
  return std::make_unique<JackPortWatch>(std::move(client));
}

}  // namespace q9m::platform::jack
