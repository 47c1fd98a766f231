// Opening a port by the index at which it was listed: the port that stood there then is opened,
// or the open is refused when it is gone or another device now stands in its place; never
// whatever port the index names after the list changed.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/midi_service.h"
#include "platform/port_list.h"
#include "tests/support/virtual_midi_fixture.h"

namespace q9m::platform {
namespace {

class NullOutput final : public OutputConnection {
 public:
  MMRESULT SendLong(MIDIHDR* header) override {
    MarkDone(header);
    return MMSYSERR_NOERROR;
  }
  MMRESULT SendShort(uint32_t) override { return MMSYSERR_NOERROR; }
  void Close() override {}
};

class NullInput final : public InputSource {
 public:
  void Close() override {}
};

// Three identical devices, as a MIDI system with stable ids lists them.
class FakeListedBackend final : public ListedPortBackend {
 public:
  std::vector<ListedPort> present;
  std::vector<std::string> opened;  // ids of the ports opened, in order

 protected:
  std::vector<ListedPort> PresentOutputs() override { return present; }
  std::vector<ListedPort> PresentInputs() override { return present; }
  std::unique_ptr<OutputConnection> OpenOutputPort(const ListedPort& port,
                                                   MMRESULT& error) override {
    if (!Present(port, error)) return nullptr;
    return std::make_unique<NullOutput>();
  }
  std::unique_ptr<InputSource> OpenInputPort(const ListedPort& port, InputReceiver&,
                                             MMRESULT& error) override {
    if (!Present(port, error)) return nullptr;
    return std::make_unique<NullInput>();
  }

 private:
  bool Present(const ListedPort& port, MMRESULT& error) {
    for (const ListedPort& p : present) {
      if (p.SamePort(port)) {
        opened.push_back(port.id);
        return true;
      }
    }
    error = MMSYSERR_BADDEVICEID;
    return false;
  }
};

// What the dialog does: counts the ports and reads each one's record.
void ListOutputs() {
  for (uint32_t i = 0; i < midiOutGetNumDevs(); ++i) {
    MIDIOUTCAPSA caps;
    midiOutGetDevCapsA(i, &caps, sizeof caps);
  }
}

void ListInputs() {
  for (uint32_t i = 0; i < midiInGetNumDevs(); ++i) {
    MIDIINCAPSA caps;
    midiInGetDevCapsA(i, &caps, sizeof caps);
  }
}

class PortIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend_ = std::make_shared<FakeListedBackend>();
    backend_->present = {{"20:0", "USB Audio Device", {}, "usb-1"},
                         {"24:0", "USB Audio Device", {}, "usb-2"},
                         {"28:0", "USB Audio Device", {}, "usb-3"}};
    StartMidiService(backend_);
  }
  void TearDown() override { StopMidiService(); }

  MMRESULT OpenOutput(uint32_t index) {
    HMIDIOUT handle{};
    const MMRESULT result = midiOutOpen(&handle, index, 0, 0, CALLBACK_NULL);
    if (result == MMSYSERR_NOERROR) midiOutClose(handle);
    return result;
  }
  MMRESULT OpenInput(uint32_t index) {
    HMIDIIN handle{};
    const MMRESULT result = midiInOpen(&handle, index, 0, 0, CALLBACK_NULL);
    if (result == MMSYSERR_NOERROR) midiInClose(handle);
    return result;
  }

  std::shared_ptr<FakeListedBackend> backend_;
};

TEST_F(PortIdentityTest, AnIndexOpensThePortListedThereAfterAnEarlierOneWentAway) {
  ListOutputs();
  ListInputs();
  backend_->present.erase(backend_->present.begin());  // device 1 re-enumerates
  EXPECT_EQ(OpenOutput(1), MMSYSERR_NOERROR);
  EXPECT_EQ(OpenInput(1), MMSYSERR_NOERROR);
  EXPECT_EQ(backend_->opened, (std::vector<std::string>{"24:0", "24:0"}));
}

TEST_F(PortIdentityTest, APortThatWentAwayOrIsNowAnotherDeviceIsNotOpened) {
  ListOutputs();
  ListInputs();
  backend_->present.erase(backend_->present.begin() + 1);  // device 2 unplugged
  EXPECT_EQ(OpenOutput(1), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(OpenInput(1), MMSYSERR_BADDEVICEID);

  // Another device plugged in where device 2 was (its card number taken over).
  backend_->present.insert(backend_->present.begin() + 1,
                           {"24:0", "USB Audio Device", {}, "usb-4"});
  EXPECT_EQ(OpenOutput(1), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(OpenInput(1), MMSYSERR_BADDEVICEID);
  EXPECT_TRUE(backend_->opened.empty());

  // Listed again, the new device is at the end, and opens there.
  ListOutputs();
  EXPECT_EQ(midiOutGetNumDevs(), 3u);
  EXPECT_EQ(OpenOutput(2), MMSYSERR_NOERROR);
  EXPECT_EQ(backend_->opened, (std::vector<std::string>{"24:0"}));
}

// A backend that opens by the system's own index and tells ports apart by name only.
class NameIdentityTest : public testing::VirtualMidiTest {};

TEST_F(NameIdentityTest, AnIndexThatNowNamesAnotherPortIsRefused) {
  AddRecordedOutput("Device A");
  const auto b = AddRecordedOutput("Device B");
  AddRecordedOutput("Device C");
  ListOutputs();
  service_->UnplugOutput(0);
  HMIDIOUT handle{};
  EXPECT_EQ(midiOutOpen(&handle, 1, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);  // now C
  EXPECT_EQ(midiOutOpen(&handle, 0, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);  // now B
  ListOutputs();
  ASSERT_EQ(midiOutOpen(&handle, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  uint8_t message[] = {0xF0, 0x01, 0xF7};
  MIDIHDR header{};
  header.lpData = reinterpret_cast<char*>(message);
  header.dwBufferLength = sizeof message;
  ASSERT_EQ(midiOutPrepareHeader(handle, &header, sizeof header), MMSYSERR_NOERROR);
  ASSERT_EQ(midiOutLongMsg(handle, &header, sizeof header), MMSYSERR_NOERROR);
  EXPECT_EQ(b->Count(), 1u);
  EXPECT_EQ(midiOutClose(handle), MMSYSERR_NOERROR);
}

}  // namespace
}  // namespace q9m::platform
