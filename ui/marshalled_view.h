// Carries the worker's calls over to the thread that owns the window. The worker calls this
// view on its own thread; each call is queued, and `wake` asks the window's thread to run
// RunPending, which makes the calls on `target` there, in the order they were made.
// ReportError holds the worker until the target's ReportError has returned there (the user
// has dismissed the box). Cancel, when the window closes, releases every such wait and drops
// every call not yet made, so that a session closing on the window's thread can wait for the
// worker without either waiting for the other.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/update_view.h"

namespace q9m::ui {

class MarshalledView final : public protocol::UpdateView {
 public:
  // `wake` is called on the worker's thread and must not wait for the window's thread (post a
  // message, do not send one).
  MarshalledView(protocol::UpdateView& target, std::function<void()> wake);
  ~MarshalledView() override;

  // Worker thread.
  void SetActivityText(const std::string& text) override;
  void SetStepText(const std::string& text) override;
  void SetProgressRange(int lowest, int highest) override;
  void SetProgressPosition(int position) override;
  void ReportError(int stringId) override;
  void RestoreControls() override;
  void EnableExecute(bool enable) override;

  // Window thread: makes the calls queued so far. Safe to enter again from a call (an error
  // box's own message loop).
  void RunPending();
  // Window thread, as the window closes: releases the waits and drops every later call.
  void Cancel();

 private:
  class Wait;
  void Post(std::function<void(protocol::UpdateView&)> call);

  protocol::UpdateView& target_;
  const std::function<void()> wake_;
  std::mutex mutex_;
  bool cancelled_ = false;
  std::deque<std::function<void(protocol::UpdateView&)>> pending_;
  std::vector<std::shared_ptr<Wait>> waits_;
};

}  // namespace q9m::ui
