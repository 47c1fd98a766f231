#include "ui/marshalled_view.h"

#include <algorithm>
#include <condition_variable>

namespace q9m::ui {

// One ReportError's wait for the box to be dismissed; released once or more.
class MarshalledView::Wait {
 public:
  void Release() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    releasedCv_.notify_all();
  }
  void Block() {
    std::unique_lock lock(mutex_);
    releasedCv_.wait(lock, [this] { return released_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable releasedCv_;
  bool released_ = false;
};

MarshalledView::MarshalledView(protocol::UpdateView& target, std::function<void()> wake)
    : target_(target), wake_(std::move(wake)) {}

MarshalledView::~MarshalledView() {
  Cancel();
}

void MarshalledView::SetActivityText(const std::string& text) {
  Post([text](protocol::UpdateView& v) { v.SetActivityText(text); });
}

void MarshalledView::SetStepText(const std::string& text) {
  Post([text](protocol::UpdateView& v) { v.SetStepText(text); });
}

void MarshalledView::SetProgressRange(int lowest, int highest) {
  Post([lowest, highest](protocol::UpdateView& v) { v.SetProgressRange(lowest, highest); });
}

void MarshalledView::SetProgressPosition(int position) {
  Post([position](protocol::UpdateView& v) { v.SetProgressPosition(position); });
}

void MarshalledView::RestoreControls() {
  Post([](protocol::UpdateView& v) { v.RestoreControls(); });
}

void MarshalledView::EnableExecute(bool enable) {
  Post([enable](protocol::UpdateView& v) { v.EnableExecute(enable); });
}

void MarshalledView::ReportError(int stringId) {
  PostAndWait([stringId](protocol::UpdateView& v) { v.ReportError(stringId); });
}

void MarshalledView::ReportErrorAt(int stringId, uint32_t address, const std::string& detail) {
  PostAndWait([stringId, address, detail](protocol::UpdateView& v) {
    v.ReportErrorAt(stringId, address, detail);
  });
}

void MarshalledView::PostAndWait(std::function<void(protocol::UpdateView&)> report) {
  auto wait = std::make_shared<Wait>();
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    waits_.push_back(wait);
    pending_.push_back([report = std::move(report), wait](protocol::UpdateView& v) {
      report(v);
      wait->Release();
    });
  }
  wake_();
  wait->Block();
  std::lock_guard lock(mutex_);
  waits_.erase(std::remove(waits_.begin(), waits_.end(), wait), waits_.end());
}

void MarshalledView::Post(std::function<void(protocol::UpdateView&)> call) {
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    pending_.push_back(std::move(call));
  }
  wake_();
}

void MarshalledView::RunPending() {
  for (;;) {
    std::function<void(protocol::UpdateView&)> call;
    {
      std::lock_guard lock(mutex_);
      if (cancelled_ || pending_.empty()) return;
      call = std::move(pending_.front());
      pending_.pop_front();
    }
    call(target_);
  }
}

void MarshalledView::Cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  pending_.clear();
  for (const auto& wait : waits_) wait->Release();
}

}  // namespace q9m::ui
