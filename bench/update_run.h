// Updates run for the benchmarks against the simulated device on the in-process MIDI service,
// on the real clock: a complete update through the worker alone, and a few blocks written by
// the worker's own write step over an emulated link.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devsim/virtual_device.h"
#include "platform/virtual/virtual_midi_service.h"

namespace q9m::bench {

// The in-process MIDI service, running from construction to destruction.
class VirtualMidi {
 public:
  VirtualMidi();
  ~VirtualMidi();
  VirtualMidi(const VirtualMidi&) = delete;
  VirtualMidi& operator=(const VirtualMidi&) = delete;

  platform::VirtualMidiService& Service() { return *service_; }

 private:
  std::shared_ptr<platform::VirtualMidiService> service_;
};

struct UpdateResult {
  bool ended = false;           // the worker gave the controls back within the time allowed
  bool completed = false;       // ... after "Version update completed."
  int error = 0;                // the string id of the error it reported, if any
  double wallSeconds = 0;       // from the start of the run to the end of its last step
  double workerCpuSeconds = 0;  // CPU time of the worker's thread over the whole run
  devsim::DeviceReport report;  // taken once the device has handled everything

  // Why the run does not count, or empty when the device verified a complete update.
  std::string Failure() const;
};

// Presses Execute on a session (no dialog) whose ports lead to a simulated device with
// `options`, and waits for the end of the run; `verify` reads every written range back.
UpdateResult RunWorkerUpdate(const devsim::DeviceOptions& options, bool verify = false);

// The same on the MIDI service that runs now, with the ports at these indices, against a
// device elsewhere (the result has no device report).
UpdateResult RunSessionUpdate(uint32_t outIndex, uint32_t inIndex);

struct WriteResult {
  int writeStep = -1;      // what the worker's write step returned
  double wallSeconds = 0;  // of the write step alone
  uint64_t bytesSent = 0;  // by the host during the write step, as the device received them
  devsim::DeviceReport report;

  // Why the run does not count, or empty when every block was acknowledged once.
  std::string Failure(uint32_t blocks) const;
};

// BeginUpdate and the erase of plan row 9, then the worker's write step for the first
// `blocks` blocks of row 10 (image 136, full 4,096-byte blocks at their real message size).
WriteResult RunWorkerWrite(const devsim::DeviceOptions& options, uint32_t blocks);

// Seconds a thread has run, by CLOCK_THREAD_CPUTIME_ID.
double ThreadCpuSeconds();

}  // namespace q9m::bench
