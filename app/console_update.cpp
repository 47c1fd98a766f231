// q9m-update-cli: the update from a terminal, without the dialog. It lists the MIDI ports,
// picks the device's ports by the dialog's preselection rule (or by the names given), runs
// one update on the same worker, dispatcher and ports as the dialog, and prints its progress.
// Exit status: 0 when the update completed, 1 when it failed, 2 when it could not start.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "firmware/image_origin.h"
#include "platform/rtmidi/rtmidi_backend.h"
#include "protocol/string_table.h"
#include "ui/instance_name.h"
#include "ui/port_preselection.h"
#include "ui/update_session.h"

using namespace q9m;

namespace {

class ConsoleView final : public protocol::UpdateView {
 public:
  explicit ConsoleView(ui::UpdateSession& session) : session_(session) {}

  void SetActivityText(const std::string& text) override {
    std::lock_guard lock(mutex_);
    if (text == protocol::LoadString(protocol::IDS_UPDATE_COMPLETED)) completed_ = true;
    // Block counters change a thousand times a step: print them at most twice a second.
    const auto now = std::chrono::steady_clock::now();
    const bool counter = text.rfind("Data transmit", 0) == 0;
    if (text.empty() || (counter && now - lastPrint_ < std::chrono::milliseconds(500))) return;
    lastPrint_ = now;
    std::printf("  %s%s\n", step_.c_str(), text.c_str());
    std::fflush(stdout);
  }
  void SetStepText(const std::string& text) override {
    std::lock_guard lock(mutex_);
    step_ = "[" + text + "] ";
  }
  void SetProgressRange(int, int) override {}
  void SetProgressPosition(int) override {}
  void ReportError(int stringId) override {
    std::fprintf(stderr, "%s: %s\n", protocol::LoadString(protocol::IDS_ERROR_CAPTION),
                 protocol::LoadString(stringId));
    RestoreControls();
  }
  void RestoreControls() override {
    session_.ClearBusy();
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    changed_.notify_all();
  }
  void EnableExecute(bool) override {}

  // Waits for the end of the run; true when it completed.
  bool WaitForEnd(std::chrono::seconds limit, bool* timedOut) {
    std::unique_lock lock(mutex_);
    *timedOut = !changed_.wait_for(lock, limit, [this] { return finished_; });
    return completed_;
  }

 private:
  ui::UpdateSession& session_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string step_;
  std::chrono::steady_clock::time_point lastPrint_{};
  bool completed_ = false;
  bool finished_ = false;
};

template <typename Port>
std::vector<std::string> PortNames() {
  std::vector<std::string> names;
  for (uint32_t i = 0; i < Port::GetDeviceCount(); ++i) {
    char name[midi::kPortNameBufferSize];
    Port::GetDeviceName(i, name);
    names.emplace_back(name);
  }
  return names;
}

int Find(const std::vector<std::string>& names, const char* wanted) {
  if (wanted == nullptr) return ui::PreselectPort(names, 1);
  int found = ui::kNoSelection;
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == wanted) found = static_cast<int>(i);
  }
  return found;
}

int Usage() {
  std::fprintf(stderr,
               "usage: q9m-update-cli [--in NAME] [--out NAME] [--timeout SECONDS]\n"
               "Updates the device on the named MIDI ports (default: the ports the updater\n"
               "preselects, such as \"USB Audio Device\").\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* inName = nullptr;
  const char* outName = nullptr;
  long timeoutSeconds = 1800;
  for (int i = 1; i < argc; ++i) {
    if (i + 1 < argc && std::strcmp(argv[i], "--in") == 0) {
      inName = argv[++i];
    } else if (i + 1 < argc && std::strcmp(argv[i], "--out") == 0) {
      outName = argv[++i];
    } else if (i + 1 < argc && std::strcmp(argv[i], "--timeout") == 0) {
      timeoutSeconds = std::strtol(argv[++i], nullptr, 10);
      if (timeoutSeconds <= 0) return Usage();
    } else {
      return Usage();
    }
  }

  std::printf("%s, %s\n", ui::kProgramTitle, firmware::ImageOriginText().c_str());
  std::string error;
  if (!platform::StartRealMidiService("q9m-update-cli", &error)) {
    std::fprintf(stderr, "No MIDI system: %s\n", error.c_str());
    return 2;
  }
  const auto outs = PortNames<midi::MidiOutPort>();
  const auto ins = PortNames<midi::MidiInPort>();
  for (size_t i = 0; i < outs.size(); ++i) std::printf("MIDI OUT %zu: %s\n", i, outs[i].c_str());
  for (size_t i = 0; i < ins.size(); ++i) std::printf("MIDI IN  %zu: %s\n", i, ins[i].c_str());
  const int out = Find(outs, outName);
  const int in = Find(ins, inName);

  int exitStatus = 1;
  {
    ui::UpdateSession session;
    ConsoleView view(session);
    session.StartTimer();
    switch (session.Execute(out, in, view)) {
      case ui::UpdateSession::ExecuteResult::CantOpenOut:
        std::fprintf(stderr, "%s\n", protocol::LoadString(protocol::IDS_CANT_OPEN_MIDI_OUT));
        return 2;
      case ui::UpdateSession::ExecuteResult::CantOpenIn:
        std::fprintf(stderr, "%s\n", protocol::LoadString(protocol::IDS_CANT_OPEN_MIDI_IN));
        return 2;
      case ui::UpdateSession::ExecuteResult::StandInImages:
        std::fprintf(stderr, "%s\n", firmware::StandInRefusalText().c_str());
        return 2;
      case ui::UpdateSession::ExecuteResult::Busy:
        return 2;
      case ui::UpdateSession::ExecuteResult::Started:
        break;
    }
    std::printf("Updating through MIDI OUT \"%s\" and MIDI IN \"%s\"\n", outs[out].c_str(),
                ins[in].c_str());
    bool timedOut = false;
    const auto start = std::chrono::steady_clock::now();
    const bool completed = view.WaitForEnd(std::chrono::seconds(timeoutSeconds), &timedOut);
    // The worker may still be making its last calls on the view: end it before the view goes.
    session.Close();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (timedOut) std::fprintf(stderr, "Gave up after %ld s.\n", timeoutSeconds);
    if (completed) {
      std::printf("%s (%.1f s)\n", protocol::LoadString(protocol::IDS_UPDATE_COMPLETED), seconds);
      exitStatus = 0;
    }
  }
  platform::StopMidiService();
  return exitStatus;
}
