#include "bench/update_run.h"

#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "firmware/flash_plan.h"
#include "firmware/image_origin.h"
#include "platform/midi_service.h"
#include "protocol/string_table.h"
#include "protocol/update_worker.h"
#include "ui/update_session.h"

namespace q9m::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRunLimit = std::chrono::minutes(5);

// What the worker shows, reduced to how the run ended. The worker calls it on its own thread,
// so the end also samples that thread's CPU time.
class EndView final : public protocol::UpdateView {
 public:
  explicit EndView(ui::UpdateSession& session) : session_(session) {}

  void SetActivityText(const std::string& text) override {
    std::lock_guard lock(mutex_);
    completed_ = text == protocol::LoadString(protocol::IDS_UPDATE_COMPLETED);
  }
  void SetStepText(const std::string&) override {}
  void SetProgressRange(int, int) override {}
  void SetProgressPosition(int) override {}
  void ReportError(int stringId) override {
    {
      std::lock_guard lock(mutex_);
      error_ = stringId;
    }
    RestoreControls();
  }
  void RestoreControls() override {
    const double cpu = ThreadCpuSeconds();
    session_.ClearBusy();
    {
      std::lock_guard lock(mutex_);
      endedAt_ = Clock::now();
      workerCpu_ = cpu;
      ended_ = true;
    }
    changed_.notify_all();
  }
  void EnableExecute(bool) override {}

  // Waits for the end; fills in how the run ended.
  void Wait(UpdateResult& result, Clock::time_point startedAt) {
    std::unique_lock lock(mutex_);
    result.ended = changed_.wait_for(lock, kRunLimit, [this] { return ended_; });
    if (!result.ended) return;
    result.completed = completed_ && error_ == 0;
    result.error = error_;
    result.wallSeconds = std::chrono::duration<double>(endedAt_ - startedAt).count();
    result.workerCpuSeconds = workerCpu_;
  }

 private:
  ui::UpdateSession& session_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ended_ = false;
  bool completed_ = false;
  int error_ = 0;
  Clock::time_point endedAt_;
  double workerCpu_ = 0;
};

// Everything a run needs, torn down in the right order: the session (which ends the worker)
// before the device, the device before the service.
struct Rig {
  explicit Rig(const devsim::DeviceOptions& options)
      : device(midi.Service(), "USB Audio Device", options), session(state) {
    session.StartTimer();
  }
  // Waits until the device has handled and answered everything that reached it.
  devsim::DeviceReport SettledReport() {
    device.Device().WaitIdle(10'000);
    return device.Report();
  }

  VirtualMidi midi;
  devsim::VirtualDevice device;
  protocol::DeviceState state;
  ui::UpdateSession session;
};

}  // namespace

VirtualMidi::VirtualMidi() : service_(std::make_shared<platform::VirtualMidiService>()) {
  // Every device here is the simulated one, in this process: stand-in images may go to it.
  setenv(firmware::kAllowStandInImagesVariable, "1", 1);
  platform::StartMidiService(service_);
}

VirtualMidi::~VirtualMidi() {
  platform::StopMidiService();
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::string UpdateResult::Failure() const {
  if (!ended) return "the update did not end within 5 minutes";
  if (error != 0) return std::string("the worker reported: ") + protocol::LoadString(error);
  if (!completed) return "the update ended without completing";
  if (!report.Passed()) {
    return report.violations.empty() ? "the device did not verify a complete update"
                                     : "device: " + report.violations.front();
  }
  return {};
}

UpdateResult RunWorkerUpdate(const devsim::DeviceOptions& options, bool verify) {
  Rig rig(options);
  rig.session.SetVerifyAfterWriting(verify);
  EndView view(rig.session);
  UpdateResult result;
  const auto startedAt = Clock::now();
  if (rig.session.Execute(0, 0, view) != ui::UpdateSession::ExecuteResult::Started) return result;
  view.Wait(result, startedAt);
  rig.session.Close();
  result.report = rig.SettledReport();
  return result;
}

UpdateResult RunSessionUpdate(uint32_t outIndex, uint32_t inIndex) {
  protocol::DeviceState state;
  ui::UpdateSession session(state);
  session.StartTimer();
  EndView view(session);
  UpdateResult result;
  const auto startedAt = Clock::now();
  if (session.Execute(static_cast<int>(outIndex), static_cast<int>(inIndex), view) ==
      ui::UpdateSession::ExecuteResult::Started) {
    view.Wait(result, startedAt);
  }
  session.Close();
  return result;
}

std::string WriteResult::Failure(uint32_t blocks) const {
  if (writeStep != 0) return "the worker's write step failed";
  if (report.blocksAcknowledged != blocks || report.received.writeBlocks != blocks) {
    return "the device acknowledged " + std::to_string(report.blocksAcknowledged) + " blocks of " +
           std::to_string(report.received.writeBlocks) + " sent, not each of " +
           std::to_string(blocks) + " once";
  }
  if (!report.violations.empty()) return "device: " + report.violations.front();
  return {};
}

WriteResult RunWorkerWrite(const devsim::DeviceOptions& options, uint32_t blocks) {
  const firmware::FlashStep& erase = firmware::FlashPlan[9];
  const firmware::FlashStep& write = firmware::FlashPlan[10];
  Rig rig(options);
  WriteResult result;
  ui::UpdateSession& session = rig.session;
  protocol::UpdateContext& context = session.Context();
  session.InPort().deviceIndex = 0;
  if (session.OutPort().Open(0) != 1 || session.InPort().Start() != 1) return result;
  rig.state.deviceCode.Set(options.code);
  if (context.sender.SendBeginUpdate() != 0 ||
      !context.replyEvent.Wait(protocol::kBeginUpdateTimeoutMs) ||
      context.replyStatus.load() != protocol::kStatusSuccess) {
    return result;
  }
  EndView view(session);
  protocol::UpdateWorker worker(context, view);
  if (worker.RunEraseStep(erase.address, erase.size) != 0) return result;

  const uint64_t bytesBefore = rig.device.Report().bytesReceived;
  const auto startedAt = Clock::now();
  result.writeStep =
      worker.RunWriteStep(write.address, blocks * firmware::kBlockBytes, write.imageId);
  result.wallSeconds = std::chrono::duration<double>(Clock::now() - startedAt).count();
  result.report = rig.SettledReport();
  result.bytesSent = result.report.bytesReceived - bytesBefore;
  return result;
}

}  // namespace q9m::bench
