#include "app/progress_format.h"

#include <cmath>
#include <cstdio>

#include "firmware/flash_plan.h"

namespace q9m::app {

namespace {

std::string Printf(const char* format, auto... values) {
  char text[256];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

std::string Hex(uint32_t value) {
  return Printf("0x%06X", value);
}

std::string StepText(const ProgressSnapshot& s) {
  return Printf("step %d/%d", s.step, s.steps);
}

std::string JsonNumber(std::optional<double> value) {
  return value ? Printf("%.1f", *value) : "null";
}

// The length of the UTF-8 sequence at text[i], or 0 when it is not a complete, valid one.
size_t Utf8SequenceLength(const std::string& text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const size_t length = lead < 0x80           ? 1
                        : (lead >> 5) == 0x6  ? 2
                        : (lead >> 4) == 0xE  ? 3
                        : (lead >> 3) == 0x1E ? 4
                                              : 0;
  if (length == 0 || i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

std::string FormatDuration(std::optional<double> seconds) {
  if (!seconds || !std::isfinite(*seconds) || *seconds < 0) return "-:--";
  const long total = std::lround(*seconds);
  if (total >= 3600) return Printf("%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  return Printf("%ld:%02ld", total / 60, total % 60);
}

std::string FormatRate(std::optional<double> bytesPerSecond) {
  if (!bytesPerSecond) return "- B/s";
  const double rate = *bytesPerSecond;
  if (rate >= 1e6) return Printf("%.2f MB/s", rate / 1e6);
  if (rate >= 1e3) return Printf("%.1f kB/s", rate / 1e3);
  return Printf("%.0f B/s", rate);
}

std::string FormatCount(uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string PhaseText(const ProgressSnapshot& s) {
  switch (s.phase) {
    case UpdatePhase::Identifying:
      return "identifying the device";
    case UpdatePhase::Starting:
      return "beginning the update";
    case UpdatePhase::Erasing:
      return "erasing " + Hex(s.rowAddress) + "-" + Hex(s.rowAddress + s.rowLength - 1);
    case UpdatePhase::Writing:
      return Printf("writing image %u", s.imageId);
    case UpdatePhase::Verifying:
      return "verifying";
    case UpdatePhase::EndingUpdate:
      return "ending the update";
    case UpdatePhase::Completed:
      return "completed";
  }
  return {};
}

std::string WhereText(const ProgressSnapshot& s) {
  switch (s.phase) {
    case UpdatePhase::Erasing:
      return StepText(s) + ", " + PhaseText(s);
    case UpdatePhase::Writing:
      return StepText(s) + ", " + PhaseText(s) + ": the block at " + Hex(s.CurrentAddress()) +
             " (" + FormatCount(s.rowDone) + " of " + FormatCount(s.rowLength) +
             " bytes acknowledged)";
    case UpdatePhase::Starting:
      return "before step 1, " + PhaseText(s) + " (BeginUpdate, then the version read at " +
             Hex(firmware::kVersionAddress) + ")";
    case UpdatePhase::EndingUpdate:
      return "after step " + Printf("%d/%d", s.step, s.steps) + ", " + PhaseText(s);
    case UpdatePhase::Verifying:
      return "after step " + Printf("%d/%d", s.step, s.steps) + ", " + PhaseText(s) +
             (s.errorAddress ? " at " + Hex(*s.errorAddress) : std::string()) + " (" +
             FormatCount(s.verifyDone) + " of " + FormatCount(s.verifyTotal) + " bytes compared)";
    default:
      return "before step 1, " + PhaseText(s);
  }
}

std::string DeviceStateText(const ProgressSnapshot& s) {
  switch (s.phase) {
    case UpdatePhase::Identifying:
      return "Nothing but the identity request was sent: the device is unchanged.";
    case UpdatePhase::Starting:
      return "The device may be waiting in its update mode; its flash has not been changed. "
             "Run the update again, or switch the device off and on to leave the update mode.";
    case UpdatePhase::Erasing:
    case UpdatePhase::Writing:
      return "The device's flash is partly rewritten: it holds no complete firmware now. Leave "
             "it in its update mode and run the update again until it completes.";
    case UpdatePhase::Verifying:
      return "Every range was written, but the read-back did not confirm it and EndUpdate was "
             "not sent: the device may not start. Leave it in its update mode and run the "
             "update again.";
    case UpdatePhase::EndingUpdate:
      return "Every range was written, but the device has not confirmed the end of the update. "
             "Run the update again if the device does not start normally.";
    case UpdatePhase::Completed:
      return "The update completed.";
  }
  return {};
}

std::string TerminalLine(const ProgressSnapshot& s, size_t width) {
  std::string line = Printf("%-10s %-28s %5.1f%%  %10s  %s left", StepText(s).c_str(),
                            PhaseText(s).c_str(), s.Percent(), FormatRate(s.bytesPerSecond).c_str(),
                            FormatDuration(s.secondsLeft).c_str());
  if (line.size() > width) line.resize(width);
  return line;
}

std::string PlainLine(const ProgressSnapshot& s) {
  std::string line = StepText(s) + ": " + PhaseText(s);
  if (s.phase == UpdatePhase::Writing) line += " at " + Hex(s.CurrentAddress());
  return line + Printf(", %.1f%% of %s bytes, %s, %s left", s.Percent(),
                       FormatCount(s.bytesTotal).c_str(), FormatRate(s.bytesPerSecond).c_str(),
                       FormatDuration(s.secondsLeft).c_str());
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      out += "\\uFFFD";
      ++i;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += text[i++];
    } else if (c < 0x20) {
      out += Printf("\\u%04X", c);
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out + "\"";
}

std::string JsonStep(int step) {
  const firmware::FlashStep& row = firmware::FlashPlan.at(static_cast<size_t>(step - 1));
  ProgressSnapshot s;
  s.step = step;
  s.steps = static_cast<int>(firmware::FlashPlan.size());
  s.phase = row.kind == firmware::kWriteStep ? UpdatePhase::Writing : UpdatePhase::Erasing;
  s.rowAddress = row.address;
  s.rowLength = row.kind == firmware::kWriteStep ? firmware::WriteLength(row) : row.size;
  s.imageId = row.kind == firmware::kWriteStep ? row.imageId : 0;
  return Printf("{\"event\":\"step\",\"step\":%d,\"steps\":%d,\"phase\":", s.step, s.steps) +
         JsonString(PhaseText(s)) +
         Printf(",\"address\":%u,\"bytes\":%u}", s.rowAddress, s.rowLength);
}

std::string JsonProgress(const char* event, const ProgressSnapshot& s) {
  return Printf("{\"event\":\"%s\",\"step\":%d,\"steps\":%d,\"phase\":", event, s.step, s.steps) +
         JsonString(PhaseText(s)) +
         Printf(",\"address\":%u,\"bytes_done\":%llu,\"bytes_total\":%llu,\"percent\":%.1f,",
                s.CurrentAddress(), static_cast<unsigned long long>(s.bytesDone),
                static_cast<unsigned long long>(s.bytesTotal), s.Percent()) +
         "\"bytes_per_second\":" + JsonNumber(s.bytesPerSecond) +
         ",\"seconds_left\":" + JsonNumber(s.secondsLeft) +
         Printf(",\"elapsed_seconds\":%.1f}", s.elapsedSeconds);
}

}  // namespace q9m::app
