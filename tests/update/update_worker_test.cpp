#include "protocol/update_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>

#include "firmware/firmware_images.h"
#include "protocol/messages.h"
#include "protocol/pack7.h"
#include "protocol/septets.h"
#include "protocol/string_table.h"
#include "tests/support/recording_view.h"
#include "tests/support/virtual_midi_fixture.h"
#include "tests/update/scripted_device.h"
#include "ui/update_session.h"

namespace q9m::protocol {
namespace {

using testing::Bytes;
using testing::KindOf;
using testing::ScriptedDevice;
using testing::Sent;

const Bytes kOldVersion = {'1', '.', '0', '0'};

class UpdateWorkerTest : public testing::VirtualMidiTest {
 protected:
  void TearDown() override {
    session_.reset();
    device_.reset();
    platform::SetClockScale(1);
    VirtualMidiTest::TearDown();
  }

  // Starts an update against a device that follows `rule`; `scale` speeds up the clock for
  // tests that sit out time-outs.
  void Start(ScriptedDevice::Rule rule, double scale = 1) {
    platform::SetClockScale(scale);
    device_ = std::make_unique<ScriptedDevice>(*service_, std::move(rule));
    session_ = std::make_unique<ui::UpdateSession>(state_);
    view_.onRestore = [this] { session_->ClearBusy(); };
    session_->StartTimer();
    ASSERT_EQ(session_->Execute(0, 0, view_), ui::UpdateSession::ExecuteResult::Started);
  }
  // Waits for the run's end (controls back), then for the worker thread.
  testing::RecordingView::Snapshot Finish() {
    EXPECT_TRUE(view_.WaitForRestore(120'000));
    session_->Close();
    return view_.Get();
  }

  // A device that acknowledges everything but what `change` overrides (nullopt = use the
  // willing answer; an empty Bytes = no answer at all).
  static ScriptedDevice::Rule WillingExcept(
      std::function<std::optional<Bytes>(Sent, int, const Bytes&)> change) {
    return [change](const Bytes& m, Sent kind, int index) -> std::optional<Bytes> {
      if (auto special = change(kind, index, m)) {
        if (special->empty()) return std::nullopt;
        return special;
      }
      return ScriptedDevice::Willing(kind, kOldVersion);
    };
  }

  protocol::DeviceState state_;
  testing::RecordingView view_;
  std::unique_ptr<ScriptedDevice> device_;
  std::unique_ptr<ui::UpdateSession> session_;
};

const Bytes kSilent = {};

// Address of a WriteBlock or EraseRange.
uint32_t AddressOf(const Bytes& m) {
  return DecodeSeptets(&m[5]);
}

TEST_F(UpdateWorkerTest, CompleteRunAgainstAWillingDevice) {
  Start(WillingExcept([](Sent, int, const Bytes&) { return std::nullopt; }));
  const auto s = Finish();
  EXPECT_TRUE(s.errors.empty());
  ASSERT_EQ(s.steps.size(), 13u);
  EXPECT_EQ(s.steps.front(), "0/12");
  EXPECT_EQ(s.steps[4], "4/12");
  EXPECT_EQ(s.steps.back(), "12/12");
  EXPECT_EQ(s.activity, "Version update completed.");
  EXPECT_FALSE(s.executeEnabled);
  EXPECT_FALSE(session_->Busy());
  EXPECT_EQ(device_->Count(Sent::Write), 1802);
  EXPECT_EQ(device_->Count(Sent::Erase), 6);
  EXPECT_EQ(s.rangeHigh, 4096);  // image 139 last, in one block
  EXPECT_EQ(s.position, 4096);
  EXPECT_EQ(state_.deviceCode.Get(), (DeviceCodeBytes{0x4A, 0, 0, 0}));
  EXPECT_EQ(session_->Context().sender.HostIdentity(), (DeviceCodeBytes{0x4A, 0, 0, 0}));
  // The last block of image 129 is 128 bytes for address 0xDC000.
  bool sawLast129 = false;
  for (const Bytes& m : device_->Messages()) {
    if (KindOf(m) == Sent::Write && AddressOf(m) == 0xDC000) {
      sawLast129 = true;
      EXPECT_EQ(DecodeCount(&m[10]), 128u);
    }
  }
  EXPECT_TRUE(sawLast129);
}

TEST_F(UpdateWorkerTest, MatchingVersionSkipsRowsAtAddressZero) {
  auto image = firmware::FindImage(142);
  ASSERT_TRUE(image);
  const Bytes version(image->bytes + 0x22FFC, image->bytes + 0x23000);
  Start([version](const Bytes&, Sent kind, int) { return ScriptedDevice::Willing(kind, version); });
  const auto s = Finish();
  EXPECT_EQ(s.activity, "Version update completed.");
  EXPECT_EQ(device_->Count(Sent::Write), 1767);
  EXPECT_EQ(device_->Count(Sent::Erase), 5);
  EXPECT_EQ(s.steps.size(), 13u);  // 4/12 and 5/12 are shown for the skipped rows too
  for (const Bytes& m : device_->Messages()) {
    if (KindOf(m) == Sent::Write || KindOf(m) == Sent::Erase) {
      EXPECT_NE(AddressOf(m), 0u);
    }
  }
}

TEST_F(UpdateWorkerTest, EndUpdateAnsweredWithAnErrorStillCompletes) {
  Start(WillingExcept([](Sent kind, int, const Bytes&) -> std::optional<Bytes> {
    if (kind == Sent::EndUpdate) return ScriptedDevice::Status(0x22);
    return std::nullopt;
  }));
  EXPECT_EQ(Finish().activity, "Version update completed.");
}

struct FailureCase {
  const char* what;
  std::function<std::optional<Bytes>(Sent, int, const Bytes&)> change;
  int error;
  double clockScale = 1;
  Sent lastKind = Sent::Other;  // the kind of the last message sent (Other: don't check)
  int lastKindCount = -1;       // how many of that kind were sent
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.what;
}

class UpdateWorkerFailureTest : public UpdateWorkerTest,
                                public ::testing::WithParamInterface<FailureCase> {};

TEST_P(UpdateWorkerFailureTest, EndsWithItsMessageAndGivesTheControlsBack) {
  const FailureCase& c = GetParam();
  Start(WillingExcept(c.change), c.clockScale);
  const auto s = Finish();
  ASSERT_EQ(s.errors.size(), 1u);
  EXPECT_EQ(s.errors[0], c.error) << LoadString(s.errors[0]);
  EXPECT_EQ(s.restores, 1);
  EXPECT_TRUE(s.executeEnabled);
  EXPECT_FALSE(session_->Busy());
  if (c.lastKind != Sent::EndUpdate) {
    EXPECT_EQ(device_->Count(Sent::EndUpdate), 0);
  }
  if (c.lastKind != Sent::Other) {
    const auto sent = device_->Messages();
    Sent last = Sent::Answer;
    for (auto it = sent.rbegin(); it != sent.rend() && last == Sent::Answer; ++it)
      last = KindOf(*it);
    EXPECT_EQ(last, c.lastKind) << "something was sent after the failing step";
    EXPECT_EQ(device_->Count(c.lastKind), c.lastKindCount);
  }
}

// Block faults hit the first block of row 2 (image 133 at 0x23000).
bool FirstBlockOfRow2(Sent kind, const Bytes& m) {
  return kind == Sent::Write && AddressOf(m) == 0x23000;
}

INSTANTIATE_TEST_SUITE_P(
    FailureTable, UpdateWorkerFailureTest,
    ::testing::Values(FailureCase{"identity time-out",
                                  [](Sent k, int, const Bytes&) -> std::optional<Bytes> {
                                    if (k == Sent::IdentityRequest) return kSilent;
                                    return std::nullopt;
                                  },
                                  IDS_TIMEOUT_1, 100, Sent::IdentityRequest, 1},
                      FailureCase{"illegal device",
                                  [](Sent k, int, const Bytes&) -> std::optional<Bytes> {
                                    if (k == Sent::IdentityRequest)
                                      return ScriptedDevice::Identity(0x4C);
                                    return std::nullopt;
                                  },
                                  IDS_ILLEGAL_DEVICE, 1, Sent::IdentityRequest, 1},
                      FailureCase{"begin time-out",
                                  [](Sent k, int, const Bytes&) -> std::optional<Bytes> {
                                    if (k == Sent::BeginUpdate) return kSilent;
                                    return std::nullopt;
                                  },
                                  IDS_TIMEOUT_1, 100, Sent::BeginUpdate, 1},
                      FailureCase{"not in update mode",
                                  [](Sent k, int, const Bytes&) -> std::optional<Bytes> {
                                    if (k == Sent::BeginUpdate) return ScriptedDevice::Status(11);
                                    return std::nullopt;
                                  },
                                  IDS_SET_UPDATE_MODE, 1, Sent::BeginUpdate, 1},
                      FailureCase{"begin refused",
                                  [](Sent k, int, const Bytes&) -> std::optional<Bytes> {
                                    if (k == Sent::BeginUpdate) return ScriptedDevice::Status(5);
                                    return std::nullopt;
                                  },
                                  IDS_TRANSFER_ERROR, 1, Sent::BeginUpdate, 1},
                      FailureCase{"version check time-out",
                                  [](Sent k, int, const Bytes&) -> std::optional<Bytes> {
                                    if (k == Sent::Read) return kSilent;
                                    return std::nullopt;
                                  },
                                  IDS_TIMEOUT_1, 100, Sent::Read, 1},
                      FailureCase{"version check with a bad CRC",
                                  [](Sent k, int, const Bytes&) -> std::optional<Bytes> {
                                    if (k != Sent::Read) return std::nullopt;
                                    Bytes reply = ScriptedDevice::ReadData(kOldVersion);
                                    reply[reply.size() - 3] ^= 1;
                                    return reply;
                                  },
                                  IDS_TRANSFER_ERROR, 1, Sent::Read, 1},
                      FailureCase{"erase refused seven times",
                                  [](Sent k, int, const Bytes&) -> std::optional<Bytes> {
                                    if (k == Sent::Erase) return ScriptedDevice::Status(1);
                                    return std::nullopt;
                                  },
                                  IDS_TRANSFER_ERROR, 1, Sent::Erase, 7},
                      FailureCase{"erase time-out",
                                  [](Sent k, int, const Bytes&) -> std::optional<Bytes> {
                                    if (k == Sent::Erase) return kSilent;
                                    return std::nullopt;
                                  },
                                  IDS_TIMEOUT_3, 100, Sent::Erase, 1},
                      FailureCase{"block refused 32 times",
                                  [](Sent k, int, const Bytes& m) -> std::optional<Bytes> {
                                    if (FirstBlockOfRow2(k, m)) return ScriptedDevice::Status(1);
                                    return std::nullopt;
                                  },
                                  IDS_TRANSFER_ERROR, 1, Sent::Write, 32},
                      FailureCase{"block times out 32 times",
                                  [](Sent k, int, const Bytes& m) -> std::optional<Bytes> {
                                    if (FirstBlockOfRow2(k, m)) return kSilent;
                                    return std::nullopt;
                                  },
                                  IDS_TIMEOUT_2, 20, Sent::Write, 32},
                      FailureCase{"31 time-outs, then a refusal",
                                  [](Sent k, int i, const Bytes& m) -> std::optional<Bytes> {
                                    if (FirstBlockOfRow2(k, m)) {
                                      return i < 31 ? kSilent : ScriptedDevice::Status(1);
                                    }
                                    return std::nullopt;
                                  },
                                  IDS_TRANSFER_ERROR, 20, Sent::Write, 32},
                      FailureCase{"end time-out",
                                  [](Sent k, int, const Bytes&) -> std::optional<Bytes> {
                                    if (k == Sent::EndUpdate) return kSilent;
                                    return std::nullopt;
                                  },
                                  IDS_TRANSFER_ERROR, 100, Sent::EndUpdate, 1}),
    [](const auto& info) {
      std::string name = info.param.what;
      for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

TEST_F(UpdateWorkerTest, RecoveriesJustBeforeTheLimitsGoOn) {
  // Erase of row 0 refused six times, the first block of row 2 refused 31 times: both then
  // accepted, and the run completes.
  Start(WillingExcept([](Sent k, int i, const Bytes& m) -> std::optional<Bytes> {
    if (k == Sent::Erase && i < 6) return ScriptedDevice::Status(1);
    if (FirstBlockOfRow2(k, m) && i < 31) {
      return ScriptedDevice::Status(1);
    }
    return std::nullopt;
  }));
  const auto s = Finish();
  EXPECT_TRUE(s.errors.empty());
  EXPECT_EQ(s.activity, "Version update completed.");
  EXPECT_EQ(device_->Count(Sent::Erase), 6 + 6);
  EXPECT_EQ(device_->Count(Sent::Write), 1802 + 31);
}

// One late acknowledgement must not leave a reply over to answer the next block: a refusal
// that follows must make the refused block go out again, not a later one. The first send of
// block k is answered 1,700 ms late, its repeat 300 ms late, and the first send of k + 1 is
// refused 600 ms late, so that every reply reaches a wait of its own.
TEST_F(UpdateWorkerTest, ALateAcknowledgementLeavesNoReplyToAnswerALaterBlock) {
  constexpr uint32_t kLateBlock = 0x23000 + 2 * 4096, kRefusedBlock = kLateBlock + 4096;
  ScriptedDevice* device = nullptr;
  auto sends = std::make_shared<std::map<uint32_t, int>>();
  Start(WillingExcept([&device, sends](Sent k, int, const Bytes& m) -> std::optional<Bytes> {
    if (k != Sent::Write) return std::nullopt;
    const int send = (*sends)[AddressOf(m)]++;
    auto later = [&](uint8_t status, int ms) {
      device->ReplyAfter(ScriptedDevice::Status(status), std::chrono::milliseconds(ms));
      return kSilent;
    };
    if (AddressOf(m) == kLateBlock && send == 0) return later(0, 1700);
    if (AddressOf(m) == kLateBlock && send == 1) return later(0, 300);
    if (AddressOf(m) == kRefusedBlock && send == 0) return later(1, 600);
    return std::nullopt;
  }));
  device = device_.get();
  const auto s = Finish();
  EXPECT_EQ(s.activity, "Version update completed.");
  EXPECT_EQ((*sends)[kLateBlock], 2);
  EXPECT_EQ((*sends)[kRefusedBlock], 2);
  EXPECT_EQ(device_->Count(Sent::Write), 1802 + 2);
}

// The rows at address 0 are skipped only on the four bytes read in this run: a stray status
// reply that ends the read's wait leaves an earlier run's matching bytes in the buffer.
TEST_F(UpdateWorkerTest, VersionBytesFromAnEarlierRunSkipNothing) {
  const auto image = firmware::FindImage(142);
  ASSERT_TRUE(image);
  const Bytes version(image->bytes + 0x22FFC, image->bytes + 0x23000);
  const Bytes earlier = ScriptedDevice::ReadData(version);
  ASSERT_EQ(
      state_.readBack.AppendPacked(&earlier[kReadDataOffset], PackedLength(4), 4,
                                   DecodeSeptets(&earlier[kReadDataOffset + PackedLength(4)])),
      ReadBackBuffer::AppendResult::Appended);
  Start(WillingExcept([](Sent k, int, const Bytes&) -> std::optional<Bytes> {
    if (k == Sent::Read) return ScriptedDevice::Status(0);
    return std::nullopt;
  }));
  const auto s = Finish();
  EXPECT_EQ(s.activity, "Version update completed.");
  EXPECT_EQ(device_->Count(Sent::Erase), 6);
  EXPECT_EQ(device_->Count(Sent::Write), 1802);
}

// Closing the window in any wait or pause ends the worker at once, and it shows nothing more.
struct CloseCase {
  const char* what;
  Sent trigger;  // close once the device has seen this kind...
  bool answer;   // ...after answering it (a pause follows) or leaving it unanswered
  uint8_t status = 0;
};

void PrintTo(const CloseCase& c, std::ostream* os) {
  *os << c.what;
}

class UpdateWorkerCloseTest : public UpdateWorkerTest,
                              public ::testing::WithParamInterface<CloseCase> {};

TEST_P(UpdateWorkerCloseTest, EndsPromptlyAndQuietly) {
  const CloseCase& c = GetParam();
  std::promise<void> seen;
  std::atomic<bool> fired{false};
  Start(WillingExcept([&](Sent kind, int, const Bytes&) -> std::optional<Bytes> {
    if (kind != c.trigger || fired.exchange(true)) return std::nullopt;
    seen.set_value();
    if (!c.answer) return kSilent;
    return c.status == 0 ? std::nullopt : std::optional<Bytes>(ScriptedDevice::Status(c.status));
  }));
  ASSERT_EQ(seen.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
  const auto start = std::chrono::steady_clock::now();
  session_->Close();  // returns once the worker has ended
  const auto took = std::chrono::steady_clock::now() - start;
  const int callsAtClose = view_.Get().calls;
  // Every wait here lasts 30 s or more and every pause 100 ms or more: ending within a few
  // seconds shows that none ran its course.
  EXPECT_LT(took, std::chrono::seconds(5));
  const auto s = view_.Get();
  EXPECT_EQ(s.calls, callsAtClose);
  EXPECT_TRUE(s.errors.empty());
  EXPECT_EQ(s.restores, 0);
  EXPECT_NE(s.activity, "Version update completed.");
}

INSTANTIATE_TEST_SUITE_P(EveryWait, UpdateWorkerCloseTest,
                         ::testing::Values(CloseCase{"identity_wait", Sent::IdentityRequest, false},
                                           CloseCase{"begin_wait", Sent::BeginUpdate, false},
                                           CloseCase{"pause_after_begin", Sent::BeginUpdate, true},
                                           CloseCase{"version_check_wait", Sent::Read, false},
                                           CloseCase{"erase_wait", Sent::Erase, false},
                                           CloseCase{"pause_after_a_refused_erase", Sent::Erase,
                                                     true, 1},
                                           CloseCase{"write_wait", Sent::Write, false},
                                           CloseCase{"end_wait", Sent::EndUpdate, false}),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace q9m::protocol
