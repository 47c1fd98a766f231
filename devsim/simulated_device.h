// A model of the Q9m as the updater sees it over System Exclusive: 8 MiB of flash holding old
// firmware, the update commands, and faults to provoke the host's recovery paths. It also
// checks the host: every message that is not one the host should send at that moment is
// recorded as a protocol violation, and at the end it tells whether its flash holds the
// layout of a complete update.
//
// Transport-independent: Receive takes one complete message from the host, and replies leave
// through the transmit function given to Start. Messages are handled one at a time, in
// arrival order, on the device's own thread; every delay runs on the platform clock
// (platform/sync.h), so a test that speeds that clock up keeps the device's timing in step
// with the host's time-outs.
//
// Decisions where the protocol leaves room:
// - Erase, write and EndUpdate before an accepted BeginUpdate are refused with status 01 (and
//   recorded); ReadRequest is answered at any time.
// - An erase range need not be sector-aligned: exactly the bytes asked for are erased.
// - A ReadRequest may ask for 1 to 16,383 bytes, as many as one ReadDataReply's count holds.
// - Erasing one 4 KiB sector that the host has read back since it was written is a repair
//   after a read-back that differed, not a violation; the sector must be read back again
//   before it is repaired once more.
// - Status replies to vendor messages carry the device's model byte.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "protocol/messages.h"

namespace q9m::devsim {

using protocol::DeviceCodeBytes;

inline constexpr uint8_t kStatusNotInUpdateMode = 0x0B;
// The host's waits, as the device uses them to tell a lost or late reply from one that arrived.
inline constexpr uint32_t kHostBlockTimeoutMs = 1000;
// An own request whose answer has not come within this time is reported as unanswered.
inline constexpr uint32_t kOwnRequestAnswerMs = 2000;
// Violations listed one by one; beyond these the report only counts them.
inline constexpr size_t kMaxViolations = 100;

struct BlockFault {
  // Which block: the one that arrives when this many distinct blocks have been accepted, or
  // the one at this flash address. A fault with neither applies to no block.
  std::optional<uint32_t> blockIndex{};
  std::optional<uint32_t> address{};
  int refuse = 0;  // the first N sends of the block are refused with refuseStatus, unwritten
  uint8_t refuseStatus = protocol::kStatusRefused;
  int silent = 0;  // the next N accepted sends are written but their reply is lost
  int late = 0;    // the next N replies go out lateMs later, the device busy until then
  uint32_t lateMs = 1500;
  int corrupt = 0;  // the next N accepted sends are acknowledged but stored with a byte changed
};

struct DeviceOptions {
  DeviceCodeBytes code{0x4A, 0x00, 0x00, 0x00};
  bool updateMode = true;       // false: BeginUpdate is answered with status 0B
  bool versionMatches = false;  // the boot image is current, so the host must skip rows 3, 4
  std::vector<BlockFault> blockFaults{};
  int refuseErases = 0;                 // the first N erase requests get status 01, nothing erased
  bool eraseNeverAnswers = false;       // erases are carried out but never answered ...
  std::optional<uint32_t> onlyErase{};  // ... only this erase request (0-based), when set
  uint32_t replyDelayMs = 0;            // every reply goes out this much later
  uint32_t eraseMsPer64KiB = 0;         // erasing takes this long per 64 KiB (busy meanwhile)
  uint32_t writeMsPerBlock = 0;         // each WriteBlock takes this long (busy meanwhile)
  uint32_t linkBytesPerSecond = 0;      // 0: instant; else each message spends size/rate on the
                                        // wire, one after another, in both directions
  // Before each reply, one message that the host must ignore: another model's or
  // manufacturer's status, a truncated message, stray data bytes, short messages, F0 F7.
  bool unsolicitedBetweenReplies = false;
  // The device's own requests (identity request; vendor 01, 04, 05, 0A, 7F, 03, and 02 in
  // place of a success reply) after BeginUpdate and every ownRequestEveryBlocks blocks; the
  // host's automatic answers are checked.
  bool sendOwnRequests = false;
  uint32_t ownRequestEveryBlocks = 100;
  // Real ports can drop a message (a JACK client that misses its cycle loses that cycle's
  // events). A block sent again after the host's full reply time-out is then what the host
  // must do when the acknowledgement never reached it, and is counted, not held against it.
  bool linkMayLoseMessages = false;
  // The next N answers to reads that cover this flash address lose one byte on the way, as a
  // lossy link may lose it.
  std::optional<uint32_t> cutReadAnswersAt{};
  int cutReadAnswers = 0;
  // The device takes in its input slower than it arrives (a paced raw intake): when the host's
  // send of a message ended is unknown, so an identical repeat is counted, not held against it.
  bool hostSendTimesUnknown = false;
};

struct MessageCounts {
  uint32_t identityRequests = 0;
  uint32_t beginUpdates = 0;
  uint32_t endUpdates = 0;
  uint32_t erases = 0;
  uint32_t writeBlocks = 0;  // every WriteBlock message, repeats and refused ones included
  uint32_t reads = 0;
  uint32_t statusReplies = 0;        // the host's answers to the device's own requests
  uint32_t hostIdentityReplies = 0;  // likewise
  uint32_t others = 0;               // anything else (each is also a violation)
};

struct DeviceReport {
  MessageCounts received;
  uint32_t blocksAcknowledged = 0;   // distinct blocks written and acknowledged
  uint32_t blocksRepeated = 0;       // identical repeats acknowledged again
  uint32_t repeatsAfterTimeOut = 0;  // of those, sent after a full time-out (reply lost on the way)
  uint32_t blocksRefused = 0;        // WriteBlocks answered with an error status
  uint32_t blocksCorrupted = 0;      // acknowledged but stored with a byte changed (a fault)
  uint32_t sectorsRepaired = 0;      // read back, then erased again on their own
  uint32_t planBlocks = 0;           // blocks the plan needs for this device
  uint32_t repliesSent = 0;          // status, identity and read replies that went out
  uint64_t bytesReceived = 0;        // every byte of every message the host sent
  uint32_t repliesLost = 0;          // replies dropped by a fault
  uint32_t ownRequestsSent = 0;
  uint32_t unsolicitedSent = 0;
  bool updateStarted = false;  // a BeginUpdate was accepted
  bool endReceived = false;
  bool updateCompleted = false;  // EndUpdate after every plan block, with the layout verified
  bool flashMatchesLayout = false;
  std::optional<uint32_t> firstMismatch;
  std::string mismatchRange;
  uint8_t mismatchExpected = 0;
  uint8_t mismatchFound = 0;
  std::vector<std::string> violations;  // the first kMaxViolations, then how many more

  // A complete, verified update without a single protocol violation.
  bool Passed() const { return updateCompleted && flashMatchesLayout && violations.empty(); }
};

class SimulatedDevice {
 public:
  using Transmit = std::function<void(const uint8_t* bytes, size_t n)>;

  explicit SimulatedDevice(DeviceOptions options);
  ~SimulatedDevice();
  SimulatedDevice(const SimulatedDevice&) = delete;
  SimulatedDevice& operator=(const SimulatedDevice&) = delete;

  // Starts the device's thread; `transmit` is called on it, one message at a time, without
  // any lock of the device held (it may call Receive).
  void Start(Transmit transmit);
  // Host to device: one complete message. Queued; returns at once. Any thread. Returns the
  // real time the message still spends on the emulated link before it has all arrived (zero
  // on an instant link).
  //
  // `held`: the transport holds the host's send until then, as a real interface does with its
  // done flag (the in-process ports do), so the host's reply time-out starts at the arrival.
  // Otherwise (real ports, which take the message at once) it starts at the hand-over.
  std::chrono::steady_clock::duration Receive(const uint8_t* bytes, size_t n, bool held = false);
  std::chrono::steady_clock::duration Receive(const std::vector<uint8_t>& bytes,
                                              bool held = false) {
    return Receive(bytes.data(), bytes.size(), held);
  }
  // Ends the thread; queued messages and unsent replies are dropped. Idempotent.
  void Stop();

  // Nothing received waits to be handled and nothing waits to be sent.
  bool Idle() const;
  // Waits up to `realMs` real milliseconds until Idle.
  bool WaitIdle(int realMs) const;

  // An EndUpdate has been handled (cheaper than Report, for polling).
  bool EndReceived() const;

  DeviceReport Report() const;
  // The 8 MiB flash. Stable while no message is being handled (after Stop, or once Idle).
  const std::vector<uint8_t>& Flash() const { return flash_; }
  const std::vector<uint8_t>& OldContent() const { return old_; }
  const DeviceOptions& Options() const { return options_; }

 private:
  struct Inbound {
    std::vector<uint8_t> bytes;
    double arrival;   // platform ms since construction: the whole message is at the device
    double hostSent;  // when the host's send returned (its time-outs count from here)
  };
  struct Outbound {
    std::vector<uint8_t> bytes;
    double sendAt;  // when it will have reached the host
  };
  struct BlockRecord {
    uint32_t index = 0;  // distinct blocks accepted before this one first arrived
    uint32_t count = 0;
    bool accepted = false;
    // The latest reply to this block: lost, or when it reached the host, and when the send it
    // answered had left the host.
    bool replyLost = false;
    double replySentAt = 0;
    double answeredSentAt = 0;
  };
  enum class Expect { Nothing, StatusOk, StatusRefused, Identity };
  struct OwnRequest {
    std::string name;
    Expect expect;
    double sentAt;
    bool beforeBegin;  // the host may not know the device's code yet
  };
  struct EraseRecord {
    bool answered = false;    // a 00 reply went out
    bool unanswered = false;  // the request was never answered
  };
  struct PlanBlock {
    uint32_t imageId, offset, count;
  };

  double Now() const;  // platform ms since construction
  double Due() const;  // when a reply to the message in hand goes out: its handling time plus the
                       // reply delay
  double Wire(size_t n) const;
  void Run();

  // Handlers run on the device thread with mutex_ held.
  void Handle(const std::vector<uint8_t>& m, double hostSent);
  void HandleUniversal(const std::vector<uint8_t>& m);
  void HandleVendor(const std::vector<uint8_t>& m, double hostSent);
  void HandleBegin(const std::vector<uint8_t>& m);
  void HandleEnd(const std::vector<uint8_t>& m);
  void HandleErase(const std::vector<uint8_t>& m);
  void HandleRead(const std::vector<uint8_t>& m);
  void HandleWrite(const std::vector<uint8_t>& m, double hostSent);
  void HandleHostAnswer(Expect got, uint8_t status, const DeviceCodeBytes* code);
  bool RequireUpdate(const char* command);
  bool RequireLength(const std::vector<uint8_t>& m, size_t length);

  // Queues a message to leave no earlier than `due`, after those queued before it; returns
  // when it will have reached the host.
  double Send(std::vector<uint8_t> bytes, double due);
  // A reply, preceded by unsolicited traffic and (at `ownRequestPoint`) an own request, as the
  // options ask.
  double Reply(std::vector<uint8_t> bytes, double due, bool ownRequestPoint, bool success);
  double ReplyStatus(uint8_t status, double due, bool ownRequestPoint = false);
  void SendUnsolicited(double due);
  // Sends the next own request; true when it stands in for the success reply.
  bool SendOwnRequest(double due, bool replyIsSuccess);
  void Violation(std::string text);
  uint32_t WrittenPlanBlocks() const;

  const DeviceOptions options_;
  std::vector<uint8_t> flash_;
  std::vector<uint8_t> old_;
  std::vector<bool> erased_;  // bytes erased at least once during this session
  // The plan's blocks for this device by address: image, offset in it, length.
  std::map<uint32_t, PlanBlock> planBlocks_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<Inbound> inbound_;
  std::deque<Outbound> outbound_;
  bool handling_ = false;
  bool transmitting_ = false;
  bool stopping_ = false;
  bool started_ = false;
  Transmit transmit_;
  std::thread thread_;
  std::chrono::steady_clock::time_point epoch_;

  double inboundFree_ = 0;
  double outboundFree_ = 0;
  double busyUntil_ = 0;
  double handlingFrom_ = 0;  // device time at which the message in hand was taken in

  DeviceReport report_;
  std::vector<BlockFault> faults_;  // counters count down as faults are used
  std::map<uint32_t, BlockRecord> blocks_;
  std::map<std::pair<uint32_t, uint32_t>, EraseRecord> erases_;
  std::set<uint32_t> sectorsReadBack_;  // 4 KiB sectors read since they were last erased
  uint32_t eraseRequests_ = 0;
  uint32_t violationsNotListed_ = 0;
  int erasesToRefuse_ = 0;
  int readAnswersToCut_ = 0;  // counts down as answers are cut
  std::deque<OwnRequest> ownPending_;
  size_t ownNext_ = 0;
  size_t unsolicitedNext_ = 0;
};

}  // namespace q9m::devsim
