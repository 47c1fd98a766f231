#include "platform/alsa/alsa_port_watch.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <thread>
#include <vector>

#include "platform/alsa/alsa_seq.h"

namespace q9m::platform::alsa {

namespace {

class SeqPortWatch final : public PortWatch {
 public:
  explicit SeqPortWatch(SeqHandle seq) : seq_(std::move(seq)) {
    fds_.resize(static_cast<size_t>(snd_seq_poll_descriptors_count(seq_.get(), POLLIN)));
    fds_.resize(static_cast<size_t>(snd_seq_poll_descriptors(
        seq_.get(), fds_.data(), static_cast<unsigned int>(fds_.size()), POLLIN)));
  }

  bool Wait(PortWatchClock::time_point deadline) override {
    for (;;) {
      if (TakeNotices()) return true;
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - PortWatchClock::now());
      if (left.count() <= 0) return false;
      const int ms = left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
      const bool failed = poll(fds_.data(), fds_.size(), ms) < 0 && errno != EINTR;
      if (failed || std::any_of(fds_.begin(), fds_.end(), [](const pollfd& fd) {
            return (fd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
          })) {
        // The sequencer has failed the client: no notice comes any more.
        std::this_thread::sleep_until(deadline);
        return false;
      }
    }
  }

 private:
  // Reads every event that has come; true when one tells of a client or a port that started,
  // exited or changed (a subscription, which the announcements also tell of, changes no list).
  bool TakeNotices() {
    bool changed = false;
    for (;;) {
      snd_seq_event_t* event = nullptr;
      const int result = snd_seq_event_input(seq_.get(), &event);
      if (result == -ENOSPC) {  // the input queue overran: notices were lost
        changed = true;
        continue;
      }
      if (result < 0 || event == nullptr) return changed;  // -EAGAIN: nothing more
      switch (event->type) {
        case SND_SEQ_EVENT_CLIENT_START:
        case SND_SEQ_EVENT_CLIENT_EXIT:
        case SND_SEQ_EVENT_CLIENT_CHANGE:
        case SND_SEQ_EVENT_PORT_START:
        case SND_SEQ_EVENT_PORT_EXIT:
        case SND_SEQ_EVENT_PORT_CHANGE:
          changed = true;
          break;
        default:
          break;
      }
    }
  }

  SeqHandle seq_;
  std::vector<pollfd> fds_;
};

}  // namespace

std::unique_ptr<PortWatch> WatchSeqPorts(const std::string& clientName) {
  int error = 0;
  SeqHandle seq = OpenSeq(clientName, SND_SEQ_OPEN_INPUT, &error);
  if (!seq) return MakePeriodicPortWatch();
  const int port = snd_seq_create_simple_port(seq.get(), "announcements",
                                              SND_SEQ_PORT_CAP_WRITE | kUnexportedPort,
                                              SND_SEQ_PORT_TYPE_APPLICATION);
  if (port < 0 || snd_seq_connect_from(seq.get(), port, SND_SEQ_CLIENT_SYSTEM,
                                       SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0) {
    return MakePeriodicPortWatch();
  }
  return std::make_unique<SeqPortWatch>(std::move(seq));
}

}  // namespace q9m::platform::alsa
