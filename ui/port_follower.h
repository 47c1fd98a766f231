// The dialog's port lists follow the devices that come and go: a thread of its own waits on
// the MIDI service's port watch and says when ports may have come or gone; the dialog carries
// that over to its own thread and lists the ports again there.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "platform/port_watch.h"

namespace q9m::ui {

class PortFollower {
 public:
  // Watches from here on (so make it before the lists are first filled), and calls `changed` on
  // its thread after each notice. Calls that come while the dialog has not yet taken the last
  // one are folded into it: `changed` is called again only after Take.
  explicit PortFollower(std::function<void()> changed);
  // Stops the thread; no call of `changed` runs or follows once it returns.
  ~PortFollower();
  PortFollower(const PortFollower&) = delete;
  PortFollower& operator=(const PortFollower&) = delete;

  // On the dialog's thread, for each call: true when the lists are to follow now. While an
  // update runs (`busy`) they stand still, and the change waits for ControlsBack.
  bool Take(bool busy);
  // On the dialog's thread, when the update has ended: true when ports changed meanwhile.
  bool ControlsBack();

 private:
  void Run();

  std::unique_ptr<platform::PortWatch> watch_;
  std::function<void()> changed_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> told_{false};  // a call is on its way to the dialog's thread
  bool deferred_ = false;          // the dialog's thread's own
  std::thread thread_;
};

}  // namespace q9m::ui
