#include "app/console_report.h"

#include <algorithm>

#include "app/progress_format.h"
#include "app/terminal.h"
#include "ui/instance_name.h"

namespace q9m::app {

namespace {

// A terminal line is redrawn at most this often; plain and JSON progress at most once a second.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr auto kLineInterval = std::chrono::seconds(1);

const char* ResultName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::Completed:
      return "completed";
    case RunOutcome::Failed:
      return "failed";
    case RunOutcome::Stopped:
      return "stopped";
    case RunOutcome::GaveUp:
      return "timed_out";
  }
  return "";
}

std::string JsonDone(const char* result, int exitStatus, double seconds) {
  char text[128];
  std::snprintf(text, sizeof text,
                "{\"event\":\"done\",\"result\":\"%s\",\"exit_status\":%d,"
                "\"seconds\":%.1f}",
                result, exitStatus, seconds);
  return text;
}

// "at step 9/12, writing ...", "before step 1, identifying the device".
std::string At(const ProgressSnapshot& s) {
  const std::string where = WhereText(s);
  return where.rfind("step", 0) == 0 ? "at " + where : where;
}

// Bytes written, and read back when verifying: what a new progress line reports.
uint64_t Moved(const ProgressSnapshot& s) {
  return s.bytesDone + s.verifyDone;
}

}  // namespace

ReportStyle ConsoleReport::StyleFor(std::FILE* out, bool json) {
  if (json) return ReportStyle::Json;
  return IsTerminal(out) ? ReportStyle::Terminal : ReportStyle::Plain;
}

void ConsoleReport::Line(std::FILE* to, const std::string& text) {
  if (!device_.empty()) {
    const std::string named = style_ == ReportStyle::Json
                                  ? "{\"device\":" + JsonString(device_) + "," + text.substr(1)
                                  : device_ + ": " + text;
    std::fprintf(to, "%s\n", named.c_str());
    std::fflush(to);
    return;
  }
  std::fprintf(to, "%s\n", text.c_str());
  std::fflush(to);
}

void ConsoleReport::NotStarted(const std::string& message, int exitStatus) {
  if (style_ == ReportStyle::Json) {
    Line(out_, "{\"event\":\"error\",\"message\":" + JsonString(message) + "}");
    Line(out_, JsonDone("not_started", exitStatus, 0));
  } else {
    Line(err_, "q9m-update-cli: " + message);
  }
}

void ConsoleReport::Waiting(const std::string& what, std::optional<long> seconds) {
  if (style_ == ReportStyle::Json) {
    Line(out_, "{\"event\":\"waiting\",\"for\":" + JsonString(what) +
                   ",\"seconds\":" + (seconds ? std::to_string(*seconds) : "null") + "}");
    return;
  }
  Line(out_, "Waiting for " + what + " (" +
                 (seconds ? "at most " + std::to_string(*seconds) + " s" : "without limit") +
                 "; Ctrl-C stops)");
}

void ConsoleReport::Started(const std::string& outPort, const std::string& inPort,
                            const std::string& images) {
  if (style_ == ReportStyle::Json) {
    Line(out_, "{\"event\":\"start\",\"out\":" + JsonString(outPort) +
                   ",\"in\":" + JsonString(inPort) + ",\"images\":" + JsonString(images) + "}");
    return;
  }
  Line(out_, std::string(ui::kProgramTitle) + ", " + images);
  Line(out_, "Updating through MIDI OUT \"" + outPort + "\" and MIDI IN \"" + inPort + "\"");
}

void ConsoleReport::Progress(const ProgressSnapshot& s, Clock::time_point now) {
  switch (style_) {
    case ReportStyle::Terminal:
      if (now - lastPrint_ < kRedrawInterval) return;
      std::fprintf(out_, "\r%s\x1b[K", TerminalLine(s, TerminalLineWidth(out_)).c_str());
      std::fflush(out_);
      lineOpen_ = true;
      break;
    case ReportStyle::Plain:
      if (now - lastPrint_ < kLineInterval) return;
      if (s.step == lastStep_ && Moved(s) == lastBytes_) return;
      Line(out_, PlainLine(s));
      break;
    case ReportStyle::Json:
      // Every step that began since the last look, however short it was.
      for (int step = std::max(lastStep_ + 1, 1); step <= s.step; ++step) {
        Line(out_, JsonStep(step));
      }
      lastStep_ = std::max(lastStep_, s.step);
      if (now - lastPrint_ < kLineInterval || Moved(s) == lastBytes_) return;
      Line(out_, JsonProgress("progress", s));
      break;
  }
  lastPrint_ = now;
  lastStep_ = s.step;
  lastBytes_ = Moved(s);
}

void ConsoleReport::EndTerminalLine(const ProgressSnapshot& s) {
  if (style_ != ReportStyle::Terminal || !lineOpen_) return;
  std::fprintf(out_, "\r%s\x1b[K\n", TerminalLine(s, TerminalLineWidth(out_)).c_str());
  std::fflush(out_);
  lineOpen_ = false;
}

void ConsoleReport::Finished(RunOutcome outcome, const ProgressSnapshot& s, int exitStatus,
                             const std::string& detail) {
  EndTerminalLine(s);
  if (style_ == ReportStyle::Json) {
    if (outcome != RunOutcome::Completed) {
      char numbers[96];
      std::snprintf(numbers, sizeof numbers, ",\"step\":%d,\"address\":%u,", s.step,
                    s.errorAddress.value_or(s.CurrentAddress()));
      Line(out_, std::string("{\"event\":\"error\",\"result\":\"") + ResultName(outcome) +
                     "\",\"message\":" + JsonString(detail) + numbers +
                     "\"where\":" + JsonString(WhereText(s)) +
                     ",\"device_state\":" + JsonString(DeviceStateText(s)) + "}");
    }
    Line(out_, JsonDone(ResultName(outcome), exitStatus, s.elapsedSeconds));
    return;
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", s.elapsedSeconds);
  switch (outcome) {
    case RunOutcome::Completed:
      Line(out_, detail + " (" + FormatCount(s.bytesDone) + " bytes in " + seconds + ")");
      return;
    case RunOutcome::Failed:
      Line(err_, "Error " + At(s) + ": " + detail);
      break;
    case RunOutcome::Stopped:
      Line(err_, "Stopped by " + detail + " " + At(s) + ".");
      break;
    case RunOutcome::GaveUp:
      Line(err_, "Gave up after " + detail + " " + At(s) + ".");
      break;
  }
  Line(err_, DeviceStateText(s));
}

}  // namespace q9m::app
