// Where q9m-update-cli's report goes and how often: one redrawn line on a terminal, plain
// lines at most once a second into a pipe or file, or one JSON object per line (--json).
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "app/update_progress.h"

namespace q9m::app {

enum class ReportStyle { Terminal, Plain, Json };

// How a run ended.
enum class RunOutcome { Completed, Failed, Stopped, GaveUp };

class ConsoleReport {
 public:
  using Clock = UpdateProgress::Clock;
  // Terminal when `out` is one, else Plain; Json when asked for.
  static ReportStyle StyleFor(std::FILE* out, bool json);

  ConsoleReport(ReportStyle style, std::FILE* out, std::FILE* err)
      : style_(style), out_(out), err_(err) {}

  // With --all: every line names the device (its ports' name); JSON objects carry "device".
  void SetDevice(std::string device) { device_ = std::move(device); }

  // The run could not start; `message` says why.
  void NotStarted(const std::string& message, int exitStatus);
  // The ports that `what` names are waited for, for at most `seconds` (nothing: no limit).
  void Waiting(const std::string& what, std::optional<long> seconds);
  void Started(const std::string& outPort, const std::string& inPort, const std::string& images);
  // Called often; prints only as often as the style allows.
  void Progress(const ProgressSnapshot& s, Clock::time_point now);
  // `detail`: the error text for Failed, the signal's name for Stopped, the limit for GaveUp.
  void Finished(RunOutcome outcome, const ProgressSnapshot& s, int exitStatus,
                const std::string& detail);

 private:
  void Line(std::FILE* to, const std::string& text);
  void EndTerminalLine(const ProgressSnapshot& s);

  ReportStyle style_;
  std::FILE* out_;
  std::FILE* err_;
  std::string device_;
  bool lineOpen_ = false;  // a terminal progress line waits to be redrawn
  int lastStep_ = -1;
  uint64_t lastBytes_ = 0;
  Clock::time_point lastPrint_{};
};

}  // namespace q9m::app
