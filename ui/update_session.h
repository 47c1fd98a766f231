// The toolkit-free half of the main dialog: the ports, the 1 ms timer that runs the reply
// dispatcher, the update context, and the worker thread. The dialog (and the console front
// end) own one for as long as their window lives.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "midi/dxm_timer.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "protocol/update_context.h"
#include "protocol/update_view.h"
#include "protocol/update_worker.h"

namespace q9m::ui {

// A list index for "nothing selected".
inline constexpr int kNoSelection = -1;

class UpdateSession {
 public:
  explicit UpdateSession(protocol::DeviceState& device = protocol::DeviceState::Process());
  // Closes (ending the worker first), then stops the timer before the ports go.
  ~UpdateSession();
  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  // Starts the 1 ms tick that drains the input port's queue into the context.
  void StartTimer();

  enum class ExecuteResult { Started, Busy, StandInImages, CantOpenOut, CantOpenIn, NoThread };
  // Closes and reopens both ports, resets ReplyEvent and starts a worker that reports to
  // `view`. A missing selection counts as a port that cannot be opened. A build with stand-in
  // images that was not allowed to update (firmware::UpdatesAllowed) touches no port. When
  // the system cannot start the worker thread nothing is sent and the session is not busy.
  ExecuteResult Execute(int outIndex, int inIndex, protocol::UpdateView& view);
  // Execute in two steps, for a caller that opens the ports of many sessions before it starts
  // any worker (opening ports reshapes a JACK graph, which can drop messages already in
  // flight): OpenPorts does the checks and opens; Start, after an OpenPorts that returned
  // Started, starts the worker.
  ExecuteResult OpenPorts(int outIndex, int inIndex);
  ExecuteResult Start(protocol::UpdateView& view);
  // What the user is told when Execute did not start an update (empty for Started).
  static std::string RefusalText(ExecuteResult result);

  // Whether the next Execute verifies by read-back (off unless asked for).
  void SetVerifyAfterWriting(bool verify) { options_.verifyAfterWriting = verify; }
  bool VerifyAfterWriting() const { return options_.verifyAfterWriting; }
  // What the next Execute's worker holds from its first erase until the run ends.
  void SetHoldWhileWriting(std::function<std::shared_ptr<void>()> hold) {
    options_.holdWhileWriting = std::move(hold);
  }

  // The busy flag: set by a successful Execute, cleared when the view restores the controls.
  bool Busy() const { return busy_.load(); }
  void ClearBusy() { busy_.store(false); }

  // The window is going: closes both ports, writes 255 and signals, so that a waiting worker
  // ends quietly, and waits until the worker has ended. The view is not called after this
  // starts, except by a call already in progress, which the view must let return.
  void Close();
  bool Closed() const { return context_.closing.Raised(); }

  // How the worker thread is started; tests make it fail as the system can.
  using ThreadStarter = std::function<std::thread(std::function<void()>)>;
  void SetThreadStarter(ThreadStarter starter) { startThread_ = std::move(starter); }

  protocol::UpdateContext& Context() { return context_; }
  midi::MidiInPort& InPort() { return inPort_; }
  midi::MidiOutPort& OutPort() { return outPort_; }

 private:
  midi::MidiInPort inPort_;
  midi::MidiOutPort outPort_;
  midi::CDxMTimer timer_;
  protocol::UpdateContext context_;
  protocol::UpdateOptions options_;
  std::atomic<bool> busy_{false};
  std::thread worker_;
  ThreadStarter startThread_ = [](std::function<void()> run) {
    return std::thread(std::move(run));
  };
};

}  // namespace q9m::ui
