// What the ports built on librtmidi share: whether librtmidi has a system compiled in, and the
// errors it reports.
#pragma once

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace q9m::platform {

inline bool RtMidiCompiled(RtMidi::Api api) {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  return std::find(apis.begin(), apis.end(), api) != apis.end();
}

// Errors that librtmidi reports on one of its objects. With this callback set, RtMidi reports
// instead of throwing, and a failed send becomes visible instead of a printed warning.
class RtMidiErrorSink {
 public:
  static void OnError(RtMidiError::Type type, const std::string& text, void* self) {
    if (type == RtMidiError::DEBUG_WARNING) return;
    auto* sink = static_cast<RtMidiErrorSink*>(self);
    std::lock_guard lock(sink->mutex_);
    sink->failed_ = true;
    sink->text_ = text;
  }

  // True, with the text, when an error was reported since the last call.
  bool Take(std::string* text = nullptr) {
    std::lock_guard lock(mutex_);
    const bool failed = failed_;
    if (failed && text) *text = text_;
    failed_ = false;
    return failed;
  }

 private:
  std::mutex mutex_;
  bool failed_ = false;
  std::string text_;
};

}  // namespace q9m::platform
