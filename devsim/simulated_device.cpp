#include "devsim/simulated_device.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>

#include "devsim/flash_layout.h"
#include "firmware/firmware_images.h"
#include "platform/sync.h"
#include "protocol/crc32.h"
#include "protocol/pack7.h"
#include "protocol/septets.h"

namespace q9m::devsim {

namespace {

using namespace protocol;

// The most one ReadDataReply carries: its count has two septets.
constexpr uint32_t kMaxReadBytes = 16'383;

// mingw-w64 checks "printf" formats against msvcrt's printf, which knows no %zu; its own C99
// printf, which the Windows build uses, is "gnu_printf".
#ifdef __MINGW_PRINTF_FORMAT
#define Q9M_PRINTF_FORMAT __MINGW_PRINTF_FORMAT
#else
#define Q9M_PRINTF_FORMAT printf
#endif
std::string Format(const char* format, ...) __attribute__((format(Q9M_PRINTF_FORMAT, 1, 2)));
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string Hex(const std::vector<uint8_t>& m, size_t limit = 16) {
  std::string text;
  for (size_t i = 0; i < m.size() && i < limit; ++i) {
    text += Format(i == 0 ? "%02X" : " %02X", m[i]);
  }
  if (m.size() > limit) text += Format(" ... (%zu bytes)", m.size());
  return text;
}

std::string CodeText(const DeviceCodeBytes& code) {
  return Format("%02X %02X %02X %02X", code[0], code[1], code[2], code[3]);
}

std::string CommandName(uint8_t command) {
  switch (command) {
    case kStatusReplyCommand:
      return "StatusReply";
    case kBeginUpdateCommand:
      return "BeginUpdate";
    case kWriteBlockCommand:
      return "WriteBlock";
    case kEndUpdateCommand:
      return "EndUpdate";
    case kEraseRangeCommand:
      return "EraseRange";
    case kReadCommand:
      return "ReadRequest";
    default:
      return Format("vendor command %02X", command);
  }
}

std::vector<uint8_t> Status(uint8_t model, uint8_t status) {
  std::vector<uint8_t> m(kStatusReplyLength);
  BuildStatusReply(m.data(), model, status);
  return m;
}

}  // namespace

SimulatedDevice::SimulatedDevice(DeviceOptions options)
    : options_(std::move(options)),
      flash_(OldFlashContent(options_.versionMatches)),
      old_(flash_),
      erased_(kFlashSize, false),
      epoch_(std::chrono::steady_clock::now()),
      faults_(options_.blockFaults),
      erasesToRefuse_(options_.refuseErases),
      readAnswersToCut_(options_.cutReadAnswers) {
  for (size_t row = 0; row < firmware::FlashPlan.size(); ++row) {
    if (options_.versionMatches && firmware::SkippedWhenVersionMatches(row)) continue;
    const firmware::FlashStep& step = firmware::FlashPlan[row];
    const uint32_t length = firmware::WriteLength(step);
    for (uint32_t offset = 0; offset < length; offset += firmware::kBlockBytes) {
      planBlocks_[step.address + offset] = {step.imageId, offset,
                                            std::min(firmware::kBlockBytes, length - offset)};
    }
  }
  report_.planBlocks = static_cast<uint32_t>(planBlocks_.size());
}

SimulatedDevice::~SimulatedDevice() {
  Stop();
}

double SimulatedDevice::Now() const {
  const std::chrono::duration<double, std::milli> real = std::chrono::steady_clock::now() - epoch_;
  return real.count() * platform::ClockScale();
}

double SimulatedDevice::Wire(size_t n) const {
  if (options_.linkBytesPerSecond == 0) return 0;
  return 1000.0 * static_cast<double>(n) / options_.linkBytesPerSecond;
}

void SimulatedDevice::Start(Transmit transmit) {
  std::lock_guard lock(mutex_);
  if (started_) return;
  started_ = true;
  transmit_ = std::move(transmit);
  thread_ = std::thread([this] { Run(); });
}

void SimulatedDevice::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    inbound_.clear();
    outbound_.clear();
  }
  changed_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

std::chrono::steady_clock::duration SimulatedDevice::Receive(const uint8_t* bytes, size_t n,
                                                             bool held) {
  double onLink = 0;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return {};
    const double now = Now();
    double arrival = now;
    if (options_.linkBytesPerSecond != 0) {
      arrival = std::max(now, inboundFree_) + Wire(n);
      inboundFree_ = arrival;
    }
    report_.bytesReceived += n;
    inbound_.push_back({std::vector<uint8_t>(bytes, bytes + n), arrival, held ? arrival : now});
    onLink = (arrival - now) / platform::ClockScale();
  }
  changed_.notify_all();
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double, std::milli>(onLink));
}

bool SimulatedDevice::Idle() const {
  std::lock_guard lock(mutex_);
  return inbound_.empty() && outbound_.empty() && !handling_ && !transmitting_;
}

bool SimulatedDevice::WaitIdle(int realMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(realMs), [this] {
    return inbound_.empty() && outbound_.empty() && !handling_ && !transmitting_;
  });
}

void SimulatedDevice::Run() {
  platform::WakeOnTime();  // messages arrive and leave on the link's time, not 50 us later
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    const double now = Now();
    if (!outbound_.empty() && outbound_.front().sendAt <= now) {
      Outbound message = std::move(outbound_.front());
      outbound_.pop_front();
      transmitting_ = true;
      lock.unlock();
      if (transmit_) transmit_(message.bytes.data(), message.bytes.size());
      lock.lock();
      transmitting_ = false;
      changed_.notify_all();
      continue;
    }
    double next = -1;
    if (!inbound_.empty()) {
      const double start = std::max(inbound_.front().arrival, busyUntil_);
      if (start <= now) {
        Inbound message = std::move(inbound_.front());
        inbound_.pop_front();
        handling_ = true;
        // The device takes the message in at the moment the link and its own work allow, on
        // the link's time: how late this thread got to run is the simulator's, not the device's.
        handlingFrom_ = start;
        Handle(message.bytes, message.hostSent);
        handling_ = false;
        changed_.notify_all();
        continue;
      }
      next = start;
    }
    if (!outbound_.empty() && (next < 0 || outbound_.front().sendAt < next)) {
      next = outbound_.front().sendAt;
    }
    if (next < 0) {
      changed_.wait(lock);
    } else {
      const double scale = platform::ClockScale();
      changed_.wait_for(lock, std::chrono::duration<double, std::milli>((next - now) / scale));
    }
  }
}

void SimulatedDevice::Violation(std::string text) {
  if (report_.violations.size() < kMaxViolations) {
    report_.violations.push_back(std::move(text));
  } else {
    ++violationsNotListed_;
  }
}

double SimulatedDevice::Send(std::vector<uint8_t> bytes, double due) {
  const double sendAt = std::max(due, outboundFree_) + Wire(bytes.size());
  outboundFree_ = sendAt;
  outbound_.push_back({std::move(bytes), sendAt});
  changed_.notify_all();
  return sendAt;
}

double SimulatedDevice::Reply(std::vector<uint8_t> bytes, double due, bool ownRequestPoint,
                              bool success) {
  if (options_.unsolicitedBetweenReplies) SendUnsolicited(due);
  ++report_.repliesSent;
  if (ownRequestPoint && options_.sendOwnRequests && SendOwnRequest(due, success)) {
    return outboundFree_;  // the own request stood in for the reply
  }
  return Send(std::move(bytes), due);
}

double SimulatedDevice::ReplyStatus(uint8_t status, double due, bool ownRequestPoint) {
  return Reply(Status(options_.code[0], status), due, ownRequestPoint, status == kStatusAccepted);
}

double SimulatedDevice::Due() const {
  return handlingFrom_ + options_.replyDelayMs;
}

void SimulatedDevice::SendUnsolicited(double due) {
  const uint8_t mb = options_.code[0];
  const std::vector<std::vector<uint8_t>> junk = {
      {0xF0, kVendorId, 0x00, static_cast<uint8_t>(mb ^ 0x01), 0x00, 0x01, 0xF7},  // other model
      {0xF0, 0x41, 0x00, mb, 0x00, 0x01, 0xF7},  // other manufacturer
      {0xF0, kVendorId, 0x00, mb, 0x00, 0x01},   // cut off before F7
      {kVendorId, 0x00, mb, 0x00, 0x01, 0xF7},   // data bytes without F0
      {0x90, 0x3C, 0x7F},                        // note on
      {0xFE},                                    // active sensing
      {0xF0, 0xF7},                              // empty SysEx
      {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},      // universal, not identity
      {0xB0, 0x07, 0x64},                        // control change
  };
  Send(junk[unsolicitedNext_++ % junk.size()], due);
  ++report_.unsolicitedSent;
}

bool SimulatedDevice::SendOwnRequest(double due, bool replyIsSuccess) {
  struct Request {
    uint8_t command;  // vendor command, or 0 for the identity request
    Expect expect;
    const char* name;
  };
  static const Request kRequests[] = {
      {0x00, Expect::Identity, "identity request"},
      {0x01, Expect::StatusOk, "vendor request 01"},
      {0x04, Expect::StatusOk, "vendor request 04"},
      {0x05, Expect::StatusOk, "vendor request 05"},
      {0x0A, Expect::StatusRefused, "vendor request 0A"},
      {0x7F, Expect::StatusRefused, "vendor request 7F"},
      {0x03, Expect::Nothing, "vendor request 03"},
      {0x02, Expect::Nothing, "vendor message 02"},  // stands in for a success reply
  };
  constexpr size_t kCount = sizeof kRequests / sizeof kRequests[0];
  Request request = kRequests[ownNext_++ % kCount];
  if (request.command == 0x02 && !replyIsSuccess) request = kRequests[ownNext_++ % kCount];
  std::vector<uint8_t> bytes;
  if (request.command == 0x00) {
    bytes = {0xF0, kUniversalNonRealTime, 0x7F, kGeneralInformation, kIdentityRequestId, 0xF7};
  } else {
    bytes = {0xF0, kVendorId, 0x00, options_.code[0], request.command, 0xF7};
  }
  const double sentAt = Send(std::move(bytes), due);
  ownPending_.push_back({request.name, request.expect, sentAt, !report_.updateStarted});
  ++report_.ownRequestsSent;
  return request.command == 0x02;
}

void SimulatedDevice::Handle(const std::vector<uint8_t>& m, double hostSent) {
  if (m.empty()) return;
  if (m[0] != kSysExStart) {
    ++report_.received.others;
    Violation("message from the host that is not System Exclusive: " + Hex(m));
    return;
  }
  if (m.size() < 2 || m.back() != kSysExEnd) {
    ++report_.received.others;
    Violation("System Exclusive from the host without F7 at its end: " + Hex(m));
    return;
  }
  const bool ours =
      m.size() >= 5 && m[1] == kVendorId && m[2] == 0x00 && m[kModelOffset] == options_.code[0];
  for (size_t i = 1; i + 1 < m.size(); ++i) {
    if (m[i] < 0x80) continue;
    ++report_.received.others;
    const std::string kind = ours ? CommandName(m[kCommandOffset]) : "message " + Hex(m, 6);
    Violation(Format("%s: byte %02X at offset %zu is not a data byte", kind.c_str(), m[i], i));
    // The device's receiver drops such a message; a command of its own gets a refusal so
    // that the host does not wait in vain.
    if (ours && m[kCommandOffset] != kStatusReplyCommand) {
      ReplyStatus(kStatusRefused, Due());
    }
    return;
  }
  if (m[1] == kUniversalNonRealTime) {
    HandleUniversal(m);
  } else if (m[1] == kVendorId) {
    if (m.size() < 6 || m[2] != 0x00) {
      ++report_.received.others;
      Violation("vendor message too short or malformed: " + Hex(m));
    } else if (m[kModelOffset] != options_.code[0]) {
      ++report_.received.others;
      Violation(Format("%s with model byte %02X, not the device's %02X",
                       CommandName(m[kCommandOffset]).c_str(), m[kModelOffset], options_.code[0]));
    } else {
      HandleVendor(m, hostSent);
    }
  } else {
    ++report_.received.others;
    Violation(
        Format("message for manufacturer %02X, not %02X: %s", m[1], kVendorId, Hex(m).c_str()));
  }
}

void SimulatedDevice::HandleUniversal(const std::vector<uint8_t>& m) {
  if (m.size() == kIdentityRequestLength && m[kSubIdOffset] == kGeneralInformation &&
      m[kSubId2Offset] == kIdentityRequestId) {
    ++report_.received.identityRequests;
    if (m[2] != 0x00 && m[2] != 0x7F) {
      Violation(Format("identity request for device %02X, not 00 or 7F", m[2]));
      return;
    }
    std::vector<uint8_t> reply(kIdentityReplyLength);
    BuildIdentityReply(reply.data(), options_.code);
    Reply(std::move(reply), Due(), false, true);
    return;
  }
  if (m.size() >= 5 && m[kSubIdOffset] == kGeneralInformation &&
      m[kSubId2Offset] == kIdentityReplyId) {
    ++report_.received.hostIdentityReplies;
    const bool wellFormed = m.size() == kHostIdentityReplyLength && m[5] == kVendorId &&
                            std::memcmp(&m[10], "1000", 4) == 0;
    if (!wellFormed) {
      Violation("malformed HostIdentityReply: " + Hex(m));
      return;
    }
    const DeviceCodeBytes code{m[6], m[7], m[8], m[9]};
    HandleHostAnswer(Expect::Identity, 0, &code);
    return;
  }
  ++report_.received.others;
  Violation("universal message that the host does not send: " + Hex(m));
}

void SimulatedDevice::HandleVendor(const std::vector<uint8_t>& m, double hostSent) {
  switch (m[kCommandOffset]) {
    case kStatusReplyCommand:
      ++report_.received.statusReplies;
      if (m.size() != kStatusReplyLength) {
        Violation("StatusReply from the host of wrong length: " + Hex(m));
        return;
      }
      HandleHostAnswer(
          m[kStatusOffset] == kStatusAccepted ? Expect::StatusOk : Expect::StatusRefused,
          m[kStatusOffset], nullptr);
      return;
    case kBeginUpdateCommand:
      HandleBegin(m);
      return;
    case kEndUpdateCommand:
      HandleEnd(m);
      return;
    case kEraseRangeCommand:
      HandleErase(m);
      return;
    case kReadCommand:
      HandleRead(m);
      return;
    case kWriteBlockCommand:
      HandleWrite(m, hostSent);
      return;
    default:
      ++report_.received.others;
      Violation("vendor command that the host does not send: " + Hex(m));
  }
}

bool SimulatedDevice::RequireUpdate(const char* command) {
  if (report_.updateStarted) return true;
  Violation(Format("%s before an accepted BeginUpdate", command));
  ReplyStatus(kStatusRefused, Due());
  return false;
}

bool SimulatedDevice::RequireLength(const std::vector<uint8_t>& m, size_t length) {
  if (m.size() == length) return true;
  Violation(Format("%s of %zu bytes, not %zu: %s", CommandName(m[kCommandOffset]).c_str(), m.size(),
                   length, Hex(m).c_str()));
  ReplyStatus(kStatusRefused, Due());
  return false;
}

void SimulatedDevice::HandleBegin(const std::vector<uint8_t>& m) {
  ++report_.received.beginUpdates;
  if (!RequireLength(m, kBeginUpdateLength)) return;
  if (!options_.updateMode) {
    ReplyStatus(kStatusNotInUpdateMode, Due());
    return;
  }
  report_.updateStarted = true;
  ReplyStatus(kStatusAccepted, Due(), true);
}

void SimulatedDevice::HandleEnd(const std::vector<uint8_t>& m) {
  ++report_.received.endUpdates;
  if (!RequireLength(m, kEndUpdateLength)) return;
  if (!RequireUpdate("EndUpdate")) return;
  report_.endReceived = true;
  const uint32_t written = WrittenPlanBlocks();
  if (written < report_.planBlocks) {
    Violation(Format("EndUpdate before the plan finished: %u of %u blocks written", written,
                     report_.planBlocks));
  }
  const LayoutCheck layout = CheckLayout(flash_.data(), old_.data(), options_.versionMatches);
  report_.updateCompleted = written == report_.planBlocks && layout.matches;
  ReplyStatus(kStatusAccepted, Due());
}

void SimulatedDevice::HandleErase(const std::vector<uint8_t>& m) {
  ++report_.received.erases;
  if (!RequireLength(m, kEraseRangeLength)) return;
  if (!RequireUpdate("EraseRange")) return;
  const uint32_t address = DecodeSeptets(&m[kEraseAddressOffset]);
  const uint32_t size = DecodeSeptets(&m[kEraseSizeOffset]);
  const uint32_t index = eraseRequests_++;
  const std::string where = Format("EraseRange at 0x%06X size 0x%X", address, size);

  // A sector read back since it was written, erased on its own: the host repairs what the
  // read-back found different.
  constexpr uint32_t kSector = 4096;
  const bool repair =
      size == kSector && address % kSector == 0 && sectorsReadBack_.erase(address) == 1;
  if (repair) ++report_.sectorsRepaired;
  EraseRecord& record = erases_[{address, size}];
  if (record.answered && !repair) Violation(where + ": resent after it was acknowledged");
  if (record.unanswered) {
    Violation(where + ": resent after a time-out (an erase is resent only after an error reply)");
  }
  record = {};
  if (erasesToRefuse_ > 0) {
    --erasesToRefuse_;
    ReplyStatus(kStatusRefused, Due());
    return;
  }
  if (size == 0 || uint64_t{address} + size > kFlashSize) {
    Violation(where + ": outside the flash");
    ReplyStatus(kStatusRefused, Due());
    return;
  }
  bool inPlan = false;
  for (size_t row = 0; row < firmware::FlashPlan.size(); ++row) {
    const firmware::FlashStep& step = firmware::FlashPlan[row];
    if (options_.versionMatches && firmware::SkippedWhenVersionMatches(row)) continue;
    inPlan |= step.kind == firmware::kEraseStep && step.address == address && step.size == size;
  }
  if (!inPlan && !repair) {
    Violation(where + (options_.versionMatches && address == 0
                           ? ": the boot image is current, so this erase is not in the plan"
                           : ": not an erase of the plan"));
  }
  std::fill(flash_.begin() + address, flash_.begin() + address + size, 0xFF);
  std::fill(erased_.begin() + address, erased_.begin() + address + size, true);
  sectorsReadBack_.erase(sectorsReadBack_.lower_bound(address),
                         sectorsReadBack_.lower_bound(address + size));
  // Busy while erasing: nothing else is handled, and the reply follows the erase.
  busyUntil_ = handlingFrom_ + options_.eraseMsPer64KiB * (size / 65536.0);
  if (options_.eraseNeverAnswers && (!options_.onlyErase || *options_.onlyErase == index)) {
    record.unanswered = true;
    ++report_.repliesLost;
    return;
  }
  ReplyStatus(kStatusAccepted, busyUntil_ + options_.replyDelayMs);
  record.answered = true;
}

void SimulatedDevice::HandleRead(const std::vector<uint8_t>& m) {
  ++report_.received.reads;
  if (!RequireLength(m, kReadRequestLength)) return;
  const uint32_t address = DecodeSeptets(&m[kReadAddressOffset]);
  const uint32_t length = DecodeSeptets(&m[kReadLengthOffset]);
  const std::string where = Format("ReadRequest at 0x%06X length %u", address, length);
  if (m[5] != kReadRequestMarker) {
    Violation(Format("%s: byte 5 is %02X, not %02X", where.c_str(), m[5], kReadRequestMarker));
    ReplyStatus(kStatusRefused, Due());
    return;
  }
  if (length == 0 || length > kMaxReadBytes || uint64_t{address} + length > kFlashSize) {
    Violation(where + ": outside the flash or longer than 16,383 bytes");
    ReplyStatus(kStatusRefused, Due());
    return;
  }
  for (uint32_t sector = address & ~0xFFFu; sector < address + length; sector += 0x1000) {
    sectorsReadBack_.insert(sector);
  }
  std::vector<uint8_t> reply(ReadDataReplyLength(length));
  BuildReadDataReply(reply.data(), options_.code[0], flash_.data() + address, length);
  if (readAnswersToCut_ > 0 && options_.cutReadAnswersAt &&
      *options_.cutReadAnswersAt - address < length) {
    --readAnswersToCut_;
    reply.erase(reply.begin() + static_cast<std::ptrdiff_t>(reply.size() / 2));
  }
  Reply(std::move(reply), Due(), false, true);
}

void SimulatedDevice::HandleWrite(const std::vector<uint8_t>& m, double hostSent) {
  ++report_.received.writeBlocks;
  auto refuse = [&](const std::string& why) {
    Violation(why);
    ++report_.blocksRefused;
    ReplyStatus(kStatusRefused, Due());
  };
  if (!RequireUpdate("WriteBlock")) return;
  if (m.size() < WriteBlockLength(1)) {
    refuse(Format("WriteBlock of %zu bytes is too short: %s", m.size(), Hex(m).c_str()));
    return;
  }
  const uint32_t address = DecodeSeptets(&m[kWriteAddressOffset]);
  const uint32_t count = DecodeCount(&m[kWriteCountOffset]);
  const std::string where = Format("WriteBlock at 0x%06X (%u bytes)", address, count);
  if (count == 0 || count > kMaxBlockBytes) {
    refuse(where + ": count outside 1 to 4096");
    return;
  }
  if (m.size() != WriteBlockLength(count)) {
    refuse(Format("%s: message of %zu bytes, expected %zu", where.c_str(), m.size(),
                  WriteBlockLength(count)));
    return;
  }

  BlockRecord& record = blocks_.try_emplace(address).first->second;
  if (record.count == 0) {
    record.index = report_.blocksAcknowledged;
    record.count = count;
  }
  BlockFault* fault = nullptr;
  for (BlockFault& f : faults_) {
    if ((f.blockIndex && *f.blockIndex == record.index) || (f.address && *f.address == address)) {
      fault = &f;
      break;
    }
  }
  // Busy over the block, refused or programmed: whatever arrives meanwhile waits.
  busyUntil_ = handlingFrom_ + options_.writeMsPerBlock;
  if (fault && fault->refuse > 0) {
    --fault->refuse;
    ++report_.blocksRefused;
    ReplyStatus(fault->refuseStatus, Due() + options_.writeMsPerBlock);
    return;
  }

  uint8_t data[kMaxBlockBytes];
  const size_t packed = PackedLength(count);
  Unpack7(data, &m[kWriteDataOffset], packed);
  const uint32_t crc = DecodeSeptets(&m[kWriteDataOffset + packed]);
  if (crc != Crc32(data, count)) {
    refuse(Format("%s: CRC %08X, data has %08X", where.c_str(), crc, Crc32(data, count)));
    return;
  }
  if (uint64_t{address} + count > kFlashSize) {
    refuse(where + ": outside the flash");
    return;
  }
  uint8_t* target = flash_.data() + address;
  const bool identical = std::memcmp(target, data, count) == 0;
  bool newlyAccepted = false;
  if (identical && record.accepted) {
    // The same block again: harmless when the host cannot have seen the acknowledgement
    // (lost, late, or still on its way when the host resent).
    const double margin = 250 + 5 * platform::ClockScale();
    const bool replyLate =
        record.replySentAt - record.answeredSentAt > kHostBlockTimeoutMs - margin;
    const bool resentBeforeReply = hostSent < record.replySentAt + margin;
    const bool afterTimeOut = hostSent - record.answeredSentAt > kHostBlockTimeoutMs - margin;
    if (!record.replyLost && !replyLate && !resentBeforeReply && options_.linkMayLoseMessages &&
        (afterTimeOut || options_.hostSendTimesUnknown)) {
      ++report_.repeatsAfterTimeOut;
    } else if (!record.replyLost && !replyLate && !resentBeforeReply) {
      Violation(Format("%s: resent although its acknowledgement went out %.0f ms after the send",
                       where.c_str(), record.replySentAt - record.answeredSentAt));
    }
    ++report_.blocksRepeated;
  } else {
    if (!identical) {
      for (uint32_t i = 0; i < count; ++i) {
        if (target[i] == 0xFF) continue;
        refuse(Format("%s: flash not erased at 0x%06X", where.c_str(), address + i));
        return;
      }
    }
    if (std::find(erased_.begin() + address, erased_.begin() + address + count, false) !=
        erased_.begin() + address + count) {
      Violation(where + ": write into a range never erased");
    }
    const auto plan = planBlocks_.find(address);
    if (plan == planBlocks_.end() || plan->second.count != count) {
      Violation(
          where + ": not a block of the plan" +
          (options_.versionMatches && address < 0x23000 ? " (the boot image is current)" : ""));
    } else if (const auto image = firmware::FindImage(plan->second.imageId); image) {
      const uint8_t* expected = image->bytes + plan->second.offset;
      const auto differ = std::mismatch(data, data + count, expected);
      if (differ.first != data + count) {
        Violation(Format("%s: bytes differ from image %u at offset 0x%X", where.c_str(),
                         plan->second.imageId,
                         plan->second.offset + static_cast<uint32_t>(differ.first - data)));
      }
    }
    std::memcpy(target, data, count);
    if (fault && fault->corrupt > 0) {
      --fault->corrupt;
      ++report_.blocksCorrupted;
      target[count / 2] ^= 0x01;  // acknowledged all the same, below
    }
    if (!record.accepted) {
      record.accepted = true;
      newlyAccepted = true;
      ++report_.blocksAcknowledged;
    }
  }

  if (fault && fault->silent > 0) {
    --fault->silent;
    record.replyLost = true;
    ++report_.repliesLost;
    return;
  }
  double due = Due() + options_.writeMsPerBlock;
  if (fault && fault->late > 0) {
    --fault->late;
    due += fault->lateMs;
    busyUntil_ = due;  // still busy with this block until its late reply goes
  }
  const bool ownRequestPoint = newlyAccepted && options_.ownRequestEveryBlocks != 0 &&
                               report_.blocksAcknowledged % options_.ownRequestEveryBlocks == 0;
  record.replyLost = false;
  record.answeredSentAt = hostSent;
  record.replySentAt = ReplyStatus(kStatusAccepted, due, ownRequestPoint);
}

void SimulatedDevice::HandleHostAnswer(Expect got, uint8_t status, const DeviceCodeBytes* code) {
  // A request that wants no answer has had its chance once a later answer comes.
  while (!ownPending_.empty() && ownPending_.front().expect == Expect::Nothing) {
    ownPending_.pop_front();
  }
  if (ownPending_.empty()) {
    Violation(got == Expect::Identity
                  ? "HostIdentityReply " + CodeText(*code) + " that answers no request"
                  : Format("StatusReply %02X from the host that answers no request", status));
    return;
  }
  const OwnRequest request = ownPending_.front();
  ownPending_.pop_front();
  if (request.expect == Expect::Identity) {
    if (got != Expect::Identity) {
      Violation(Format("the device's identity request was answered with StatusReply %02X", status));
      return;
    }
    const DeviceCodeBytes none{0, 0, 0, 0};
    if (*code != options_.code && !(request.beforeBegin && *code == none)) {
      Violation("HostIdentityReply to the device's identity request carries " + CodeText(*code) +
                ", expected " + CodeText(options_.code));
    }
    return;
  }
  if (got == Expect::Identity) {
    Violation("the device's " + request.name + " was answered with a HostIdentityReply");
    return;
  }
  const uint8_t expected = request.expect == Expect::StatusOk ? kStatusAccepted : kStatusRefused;
  if (status != expected) {
    Violation(Format("the device's %s was answered with status %02X, expected %02X",
                     request.name.c_str(), status, expected));
  }
}

uint32_t SimulatedDevice::WrittenPlanBlocks() const {
  uint32_t written = 0;
  for (const auto& [address, block] : planBlocks_) {
    const auto it = blocks_.find(address);
    written += it != blocks_.end() && it->second.accepted && it->second.count == block.count;
  }
  return written;
}

bool SimulatedDevice::EndReceived() const {
  std::lock_guard lock(mutex_);
  return report_.endReceived;
}

DeviceReport SimulatedDevice::Report() const {
  std::lock_guard lock(mutex_);
  DeviceReport report = report_;
  const double now = Now();
  for (const OwnRequest& request : ownPending_) {
    if (request.expect != Expect::Nothing && now - request.sentAt > kOwnRequestAnswerMs) {
      report.violations.push_back("the host did not answer the device's " + request.name);
    }
  }
  if (violationsNotListed_ > 0) {
    report.violations.push_back(Format("... and %u more violations", violationsNotListed_));
  }
  const LayoutCheck layout = CheckLayout(flash_.data(), old_.data(), options_.versionMatches);
  report.flashMatchesLayout = layout.matches;
  report.firstMismatch = layout.firstMismatch;
  report.mismatchRange = layout.range;
  report.mismatchExpected = layout.expected;
  report.mismatchFound = layout.found;
  return report;
}

}  // namespace q9m::devsim
