// The winmm driver layer on the system's own winmm.dll.
//
// Output ports are opened with CALLBACK_EVENT: the system sets an event of the port's own when a
// buffer is done, and a send waits on it until the buffer's MHDR_DONE is set. Input ports are
// opened with CALLBACK_THREAD: the system posts MM_MIM_DATA and MM_MIM_LONGDATA to a thread of the
// port's own, which hands them on in order. So nothing of ours runs inside the system's callback,
// where Microsoft allows no other winmm call (midiInAddBuffer included) for fear of deadlock,
// and the thread may give buffers back to the driver at once.
#include <windows.h>
// In this order: each builds on the one before.
#include <mmsystem.h>
//
#include <mmddk.h>

#include <future>
#include <thread>
#include <vector>

#include "platform/winmm/winmm_driver.h"

#ifndef DRV_QUERYDEVICEINTERFACE
#define DRV_QUERYDEVICEINTERFACE (DRV_RESERVED + 12)
#define DRV_QUERYDEVICEINTERFACESIZE (DRV_RESERVED + 13)
#endif

namespace q9m::platform::winmm {

namespace {

std::string Utf8(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), bytes, nullptr, nullptr);
  }
  return utf8;
}

// The product name: at most MAXPNAMELEN - 1 characters, and not always terminated.
std::string PortName(const WCHAR (&name)[MAXPNAMELEN]) {
  int length = 0;
  while (length < MAXPNAMELEN && name[length] != 0) ++length;
  return Utf8(name, length);
}

// DRV_QUERYDEVICEINTERFACE through midiOutMessage or midiInMessage; empty when the driver
// does not answer it (wine does not).
template <typename Handle, typename Message>
std::string InterfacePath(UINT id, Message message) {
  const auto handle = reinterpret_cast<Handle>(static_cast<UINT_PTR>(id));
  ULONG size = 0;
  if (message(handle, DRV_QUERYDEVICEINTERFACESIZE, reinterpret_cast<DWORD_PTR>(&size), 0) !=
          MMSYSERR_NOERROR ||
      size < sizeof(WCHAR) || size > 4096) {
    return {};
  }
  std::vector<WCHAR> path(size / sizeof(WCHAR) + 1, 0);
  if (message(handle, DRV_QUERYDEVICEINTERFACE, reinterpret_cast<DWORD_PTR>(path.data()), size) !=
      MMSYSERR_NOERROR) {
    return {};
  }
  int length = 0;
  while (path[length] != 0) ++length;
  return Utf8(path.data(), length);
}

MIDIHDR* Header(LongBuffer& buffer) {
  return static_cast<MIDIHDR*>(buffer.system);
}

// Gives the buffer a system header of its own, prepared by `prepare`.
template <typename Prepare>
Result PrepareHeader(LongBuffer& buffer, Prepare prepare) {
  if (buffer.system == nullptr) buffer.system = new MIDIHDR{};
  MIDIHDR* header = Header(buffer);
  *header = MIDIHDR{};
  header->lpData = buffer.data;
  header->dwBufferLength = buffer.length;
  header->dwUser = reinterpret_cast<DWORD_PTR>(&buffer);
  const Result result = prepare(header);
  if (result != MMSYSERR_NOERROR) {
    delete header;
    buffer.system = nullptr;
  }
  return result;
}

// Undoes PrepareHeader; the system header stays while the driver refuses (it still holds it).
template <typename Unprepare>
Result UnprepareHeader(LongBuffer& buffer, Unprepare unprepare) {
  MIDIHDR* header = Header(buffer);
  if (header == nullptr) return MMSYSERR_NOERROR;
  const Result result = unprepare(header);
  if (result == MMSYSERR_NOERROR) {
    delete header;
    buffer.system = nullptr;
  }
  return result;
}

class SystemOutput final : public OutputDevice {
 public:
  SystemOutput(HMIDIOUT handle, HANDLE doneEvent) : handle_(handle), doneEvent_(doneEvent) {}
  ~SystemOutput() override {
    Close();
    CloseHandle(doneEvent_);
  }

  Result Prepare(LongBuffer& buffer) override {
    return PrepareHeader(
        buffer, [this](MIDIHDR* h) { return midiOutPrepareHeader(handle_, h, sizeof(MIDIHDR)); });
  }
  Result Send(LongBuffer& buffer) override {
    if (Header(buffer) == nullptr) return MIDIERR_UNPREPARED;
    return midiOutLongMsg(handle_, Header(buffer), sizeof(MIDIHDR));
  }
  bool WaitDone(LongBuffer& buffer, uint32_t milliseconds) override {
    const MIDIHDR* header = Header(buffer);
    if (header == nullptr) return true;
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    // The event is set for every notice of the port (open, done, close); the flag tells.
    while ((ReadFlags(header) & MHDR_DONE) == 0) {
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) return false;
      WaitForSingleObject(doneEvent_, static_cast<DWORD>(deadline - now));
    }
    return true;
  }
  Result Unprepare(LongBuffer& buffer) override {
    return UnprepareHeader(
        buffer, [this](MIDIHDR* h) { return midiOutUnprepareHeader(handle_, h, sizeof(MIDIHDR)); });
  }
  Result SendShort(uint32_t packed) override { return midiOutShortMsg(handle_, packed); }
  Result Reset() override { return handle_ ? midiOutReset(handle_) : MMSYSERR_INVALHANDLE; }
  Result Close() override {
    if (handle_ == nullptr) return MMSYSERR_NOERROR;
    const Result result = midiOutClose(handle_);
    if (result == MMSYSERR_NOERROR) handle_ = nullptr;
    return result;
  }

 private:
  static DWORD ReadFlags(const MIDIHDR* header) {
    // The driver writes the flags from its own thread.
    return *static_cast<const volatile DWORD*>(&header->dwFlags);
  }

  HMIDIOUT handle_;
  const HANDLE doneEvent_;
};

class SystemInput final : public InputDevice {
 public:
  explicit SystemInput(InputEvents& events) : events_(events) {}
  ~SystemInput() override {
    Close();
    EndThread();
  }

  // Starts the thread that receives the port's notices, then opens the port for it.
  Result Open(UINT id) {
    std::promise<DWORD> started;
    auto threadId = started.get_future();
    thread_ = std::thread([this, &started] { Run(started); });
    threadId_ = threadId.get();
    HMIDIIN handle = nullptr;
    const Result result = midiInOpen(&handle, id, threadId_, 0, CALLBACK_THREAD);
    if (result != MMSYSERR_NOERROR) {
      EndThread();
      return result;
    }
    handle_ = handle;
    return MMSYSERR_NOERROR;
  }

  Result Prepare(LongBuffer& buffer) override {
    return PrepareHeader(
        buffer, [this](MIDIHDR* h) { return midiInPrepareHeader(handle_, h, sizeof(MIDIHDR)); });
  }
  Result AddBuffer(LongBuffer& buffer) override {
    if (Header(buffer) == nullptr) return MIDIERR_UNPREPARED;
    return midiInAddBuffer(handle_, Header(buffer), sizeof(MIDIHDR));
  }
  Result Start() override { return midiInStart(handle_); }
  Result Stop() override { return midiInStop(handle_); }
  Result Reset() override { return midiInReset(handle_); }
  Result Unprepare(LongBuffer& buffer) override {
    return UnprepareHeader(
        buffer, [this](MIDIHDR* h) { return midiInUnprepareHeader(handle_, h, sizeof(MIDIHDR)); });
  }
  Result Close() override {
    if (handle_ != nullptr) {
      const Result result = midiInClose(handle_);
      if (result != MMSYSERR_NOERROR) return result;
      handle_ = nullptr;
    }
    // The notices posted before the close (the buffers that a reset gave back) are handed on
    // first: the quit comes after them in the queue.
    EndThread();
    return MMSYSERR_NOERROR;
  }

 private:
  void Run(std::promise<DWORD>& started) {
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // makes the queue
    started.set_value(GetCurrentThreadId());
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      switch (message.message) {
        case MM_MIM_DATA:
          events_.ShortData(static_cast<uint32_t>(message.lParam));
          break;
        case MM_MIM_LONGDATA:
        case MM_MIM_LONGERROR: {
          auto* header = reinterpret_cast<MIDIHDR*>(message.lParam);
          auto* buffer = reinterpret_cast<LongBuffer*>(header->dwUser);
          buffer->recorded = header->dwBytesRecorded;
          events_.LongData(*buffer, message.message == MM_MIM_LONGERROR);
          break;
        }
        default:
          break;  // open, close, a bad short message
      }
    }
  }

  void EndThread() {
    if (!thread_.joinable()) return;
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }

  InputEvents& events_;
  HMIDIIN handle_ = nullptr;
  std::thread thread_;
  DWORD threadId_ = 0;
};

class SystemDriver final : public Driver {
 public:
  uint32_t OutputCount() override { return midiOutGetNumDevs(); }
  std::optional<PortCaps> OutputCaps(uint32_t id) override {
    MIDIOUTCAPSW caps{};
    if (midiOutGetDevCapsW(id, &caps, sizeof(caps)) != MMSYSERR_NOERROR) return std::nullopt;
    return PortCaps{PortName(caps.szPname), InterfacePath<HMIDIOUT>(id, midiOutMessage)};
  }
  std::unique_ptr<OutputDevice> OpenOutput(uint32_t id, Result& error) override {
    HANDLE doneEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (doneEvent == nullptr) {
      error = MMSYSERR_NOMEM;
      return nullptr;
    }
    HMIDIOUT handle = nullptr;
    error = midiOutOpen(&handle, id, reinterpret_cast<DWORD_PTR>(doneEvent), 0, CALLBACK_EVENT);
    if (error != MMSYSERR_NOERROR) {
      CloseHandle(doneEvent);
      return nullptr;
    }
    return std::make_unique<SystemOutput>(handle, doneEvent);
  }
  uint32_t InputCount() override { return midiInGetNumDevs(); }
  std::optional<PortCaps> InputCaps(uint32_t id) override {
    MIDIINCAPSW caps{};
    if (midiInGetDevCapsW(id, &caps, sizeof(caps)) != MMSYSERR_NOERROR) return std::nullopt;
    return PortCaps{PortName(caps.szPname), InterfacePath<HMIDIIN>(id, midiInMessage)};
  }
  std::unique_ptr<InputDevice> OpenInput(uint32_t id, InputEvents& events, Result& error) override {
    auto input = std::make_unique<SystemInput>(events);
    error = input->Open(id);
    if (error != MMSYSERR_NOERROR) return nullptr;
    return input;
  }
};

}  // namespace

std::unique_ptr<Driver> MakeSystemDriver() {
  return std::make_unique<SystemDriver>();
}

}  // namespace q9m::platform::winmm
