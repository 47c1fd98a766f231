#include "devsim/report_format.h"

#include <cstdio>

namespace q9m::devsim {

namespace {

std::string Hex6(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", value);
  return text;
}

const char* Bool(bool value) {
  return value ? "true" : "false";
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string ReportText(const DeviceReport& r) {
  const MessageCounts& c = r.received;
  std::string out;
  out += r.Passed() ? "verdict: complete, verified update\n" : "verdict: NOT a complete update\n";
  out += "received: " + std::to_string(c.identityRequests) + " identity requests, " +
         std::to_string(c.beginUpdates) + " BeginUpdate, " + std::to_string(c.erases) +
         " EraseRange, " + std::to_string(c.writeBlocks) + " WriteBlock, " +
         std::to_string(c.reads) + " ReadRequest, " + std::to_string(c.endUpdates) +
         " EndUpdate, " + std::to_string(c.statusReplies) + " StatusReply, " +
         std::to_string(c.hostIdentityReplies) + " HostIdentityReply, " + std::to_string(c.others) +
         " other\n";
  out += "blocks: " + std::to_string(r.blocksAcknowledged) + " of " + std::to_string(r.planBlocks) +
         " written, " + std::to_string(r.blocksRepeated) + " repeats acknowledged (" +
         std::to_string(r.repeatsAfterTimeOut) + " after a full time-out), " +
         std::to_string(r.blocksRefused) + " refused, " + std::to_string(r.blocksCorrupted) +
         " stored wrong on purpose, " + std::to_string(r.sectorsRepaired) +
         " sectors repaired after a read-back\n";
  out += "sent: " + std::to_string(r.repliesSent) + " replies (" + std::to_string(r.repliesLost) +
         " more lost on purpose), " + std::to_string(r.ownRequestsSent) + " own requests, " +
         std::to_string(r.unsolicitedSent) + " unsolicited\n";
  out += std::string("update: ") + (r.updateStarted ? "started" : "not started") +
         (r.endReceived ? ", EndUpdate received" : ", no EndUpdate") +
         (r.updateCompleted ? ", completed\n" : "\n");
  if (r.flashMatchesLayout) {
    out += "flash: matches the layout\n";
  } else if (r.firstMismatch) {
    char detail[96];
    std::snprintf(detail, sizeof detail, " (expected %02X, found %02X)", r.mismatchExpected,
                  r.mismatchFound);
    out += "flash: differs from the layout first at " + Hex6(*r.firstMismatch) + " in " +
           r.mismatchRange + detail + "\n";
  }
  out += "violations: " + std::to_string(r.violations.size()) + "\n";
  for (const std::string& v : r.violations) out += "  " + v + "\n";
  return out;
}

std::string ReportJson(const DeviceReport& r) {
  const MessageCounts& c = r.received;
  std::string out = "{\n";
  out += std::string("  \"passed\": ") + Bool(r.Passed()) + ",\n";
  out += "  \"received\": {\"identityRequests\": " + std::to_string(c.identityRequests) +
         ", \"beginUpdates\": " + std::to_string(c.beginUpdates) +
         ", \"erases\": " + std::to_string(c.erases) +
         ", \"writeBlocks\": " + std::to_string(c.writeBlocks) +
         ", \"reads\": " + std::to_string(c.reads) +
         ", \"endUpdates\": " + std::to_string(c.endUpdates) +
         ", \"statusReplies\": " + std::to_string(c.statusReplies) +
         ", \"hostIdentityReplies\": " + std::to_string(c.hostIdentityReplies) +
         ", \"others\": " + std::to_string(c.others) + "},\n";
  out += "  \"blocksAcknowledged\": " + std::to_string(r.blocksAcknowledged) + ",\n";
  out += "  \"planBlocks\": " + std::to_string(r.planBlocks) + ",\n";
  out += "  \"blocksRepeated\": " + std::to_string(r.blocksRepeated) + ",\n";
  out += "  \"repeatsAfterTimeOut\": " + std::to_string(r.repeatsAfterTimeOut) + ",\n";
  out += "  \"blocksRefused\": " + std::to_string(r.blocksRefused) + ",\n";
  out += "  \"blocksCorrupted\": " + std::to_string(r.blocksCorrupted) + ",\n";
  out += "  \"sectorsRepaired\": " + std::to_string(r.sectorsRepaired) + ",\n";
  out += "  \"repliesSent\": " + std::to_string(r.repliesSent) + ",\n";
  out += "  \"repliesLost\": " + std::to_string(r.repliesLost) + ",\n";
  out += "  \"ownRequestsSent\": " + std::to_string(r.ownRequestsSent) + ",\n";
  out += "  \"unsolicitedSent\": " + std::to_string(r.unsolicitedSent) + ",\n";
  out += std::string("  \"updateStarted\": ") + Bool(r.updateStarted) + ",\n";
  out += std::string("  \"endReceived\": ") + Bool(r.endReceived) + ",\n";
  out += std::string("  \"updateCompleted\": ") + Bool(r.updateCompleted) + ",\n";
  out += std::string("  \"flashMatchesLayout\": ") + Bool(r.flashMatchesLayout) + ",\n";
  out += "  \"firstMismatch\": " +
         (r.firstMismatch ? std::to_string(*r.firstMismatch) : std::string("null")) + ",\n";
  out += "  \"mismatchRange\": " + JsonString(r.mismatchRange) + ",\n";
  out += "  \"violations\": [";
  for (size_t i = 0; i < r.violations.size(); ++i) {
    out += (i == 0 ? "\n    " : ",\n    ") + JsonString(r.violations[i]);
  }
  out += r.violations.empty() ? "]\n" : "\n  ]\n";
  return out + "}\n";
}

}  // namespace q9m::devsim
