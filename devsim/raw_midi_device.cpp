#include "devsim/raw_midi_device.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace q9m::devsim {

namespace {

using Clock = std::chrono::steady_clock;

std::string AlsaError(const std::string& what, int error) {
  return what + ": " + snd_strerror(error);
}

}  // namespace

std::string RawMidiDevice::Open(const std::string& name) {
  Close();
  name_ = name.find(':') == std::string::npos ? "hw:CARD=" + name + ",DEV=0" : name;
  int error = snd_rawmidi_open(&in_, nullptr, name_.c_str(), SND_RAWMIDI_NONBLOCK);
  if (error < 0) return AlsaError("cannot open " + name_ + " for input", error);
  error = snd_rawmidi_open(nullptr, &out_, name_.c_str(), 0);
  if (error < 0) {
    Close();
    return AlsaError("cannot open " + name_ + " for output", error);
  }
  snd_rawmidi_params_t* params = nullptr;
  snd_rawmidi_params_alloca(&params);
  error = snd_rawmidi_params_current(in_, params);
  if (error >= 0) error = snd_rawmidi_params_set_buffer_size(in_, params, kRawInputBufferBytes);
  if (error >= 0) error = snd_rawmidi_params(in_, params);
  if (error < 0) {
    Close();
    return AlsaError("cannot enlarge the input buffer of " + name_, error);
  }
  return "";
}

void RawMidiDevice::Start(Receive receive, RawIntake intake) {
  stop_ = false;
  reader_ =
      std::thread([this, receive = std::move(receive), intake] { ReadLoop(receive, intake); });
}

void RawMidiDevice::ReadLoop(Receive receive, RawIntake intake) {
  std::vector<pollfd> fds(static_cast<size_t>(snd_rawmidi_poll_descriptors_count(in_)));
  snd_rawmidi_poll_descriptors(in_, fds.data(), static_cast<unsigned>(fds.size()));
  // Paced, it reads about a hundredth of a second's worth at a time.
  std::vector<uint8_t> buffer(4096);
  const size_t pacedChunk = std::clamp<size_t>(intake.bytesPerSecond / 100, 1, buffer.size());
  uint64_t taken = 0;
  Clock::time_point due{};
  while (!stop_) {
    const bool paced =
        intake.bytesPerSecond > 0 && (intake.slowBytes == 0 || taken < intake.slowBytes);
    if (poll(fds.data(), fds.size(), 100) < 0) continue;  // interrupted by a signal
    unsigned short events = 0;
    snd_rawmidi_poll_descriptors_revents(in_, fds.data(), static_cast<unsigned>(fds.size()),
                                         &events);
    if ((events & (POLLERR | POLLHUP)) != 0) {
      Fail("the device " + name_ + " went away", -ENODEV);
      return;
    }
    if ((events & POLLIN) == 0) continue;
    const size_t want = paced ? pacedChunk : buffer.size();
    const ssize_t n = snd_rawmidi_read(in_, buffer.data(), want);
    if (n == -EAGAIN) continue;
    if (n < 0) {
      Fail("reading from " + name_ + " failed", static_cast<int>(n));
      return;
    }
    if (taken == 0) firstByteAt_ = Clock::now();
    receive(buffer.data(), static_cast<size_t>(n));
    taken += static_cast<uint64_t>(n);
    if (paced && taken >= intake.slowBytes && intake.slowBytes > 0) {
      slowSeconds_ = std::chrono::duration<double>(Clock::now() - firstByteAt_).count();
    }
    if (paced) {
      // Bytes not read stay in the kernel's buffer; idle time earns no credit.
      due = std::max(due, Clock::now() - std::chrono::milliseconds(1)) +
            std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(static_cast<double>(n) / intake.bytesPerSecond));
      std::this_thread::sleep_until(due);
    }
  }
}

bool RawMidiDevice::Write(const uint8_t* bytes, size_t n) {
  if (!Failure().empty()) return false;
  while (n > 0) {
    const ssize_t written = snd_rawmidi_write(out_, bytes, n);
    if (written < 0) {
      Fail("writing to " + name_ + " failed", static_cast<int>(written));
      return false;
    }
    bytes += written;
    n -= static_cast<size_t>(written);
  }
  return true;
}

void RawMidiDevice::Fail(const std::string& what, int error) {
  // Unplugged, the device fails whichever call comes first: the reader's poll, a read or the
  // write of a reply.
  const std::string failure = error == -ENODEV
                                  ? AlsaError("the device " + name_ + " went away", error)
                                  : AlsaError(what, error);
  std::lock_guard lock(failureMutex_);
  if (failure_.empty()) failure_ = failure;
}

std::string RawMidiDevice::Failure() const {
  std::lock_guard lock(failureMutex_);
  return failure_;
}

void RawMidiDevice::Close() {
  stop_ = true;
  if (reader_.joinable()) reader_.join();
  if (in_ != nullptr) snd_rawmidi_close(in_);
  if (out_ != nullptr) snd_rawmidi_close(out_);
  in_ = nullptr;
  out_ = nullptr;
}

}  // namespace q9m::devsim
