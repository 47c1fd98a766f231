// The hold through systemd-logind: Inhibit("sleep:shutdown:handle-lid-switch", who, why,
// "block") on the system bus returns a file descriptor, and the hold lasts while that
// descriptor is open anywhere. It is kept close-on-exec, so that no child inherits it, and a
// process that ends or is killed closes it with everything else.
//
// sd-bus (libsystemd) makes the call: one synchronous method call with a file descriptor in
// its reply, and DBUS_SYSTEM_BUS_ADDRESS honoured for a private bus in tests.
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>

#include "platform/sleep_inhibitor.h"

namespace q9m::platform {

namespace {

// logind answers at once; a bus that does not is treated like none, after this long.
constexpr uint64_t kCallTimeoutUs = 5'000'000;

class LogindInhibitor final : public SleepInhibitor {
 public:
  explicit LogindInhibitor(int fd) : fd_(fd) {}
  ~LogindInhibitor() override { close(fd_); }
  LogindInhibitor(const LogindInhibitor&) = delete;
  LogindInhibitor& operator=(const LogindInhibitor&) = delete;

 private:
  int fd_;
};

std::string Errno(const char* what, int negative) {
  return std::string(what) + ": " + std::strerror(-negative);
}

}  // namespace

std::unique_ptr<SleepInhibitor> HoldOffSleep(const std::string& who, const std::string& why,
                                             std::string* error) {
  sd_bus* bus = nullptr;
  int r = sd_bus_open_system(&bus);
  if (r < 0) {
    *error = Errno("no system bus", r);
    return nullptr;
  }
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error failure = SD_BUS_ERROR_NULL;
  int fd = -1;
  r = sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1",
                                     "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                     "Inhibit");
  if (r >= 0) {
    r = sd_bus_message_append(call, "ssss", "sleep:shutdown:handle-lid-switch", who.c_str(),
                              why.c_str(), "block");
  }
  if (r >= 0) r = sd_bus_call(bus, call, kCallTimeoutUs, &failure, &reply);
  if (r < 0) {
    *error = failure.message != nullptr
                 ? std::string("systemd-logind did not hold it: ") + failure.message
                 : Errno("systemd-logind did not hold it", r);
  } else {
    int received = -1;
    r = sd_bus_message_read(reply, "h", &received);
    // The reply owns the descriptor it carries: keep a copy of our own.
    if (r >= 0) fd = fcntl(received, F_DUPFD_CLOEXEC, 3);
    if (r < 0 || fd < 0) *error = "systemd-logind's answer carried no usable descriptor";
  }
  sd_bus_error_free(&failure);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  sd_bus_flush_close_unref(bus);
  if (fd < 0) return nullptr;
  return std::make_unique<LogindInhibitor>(fd);
}

}  // namespace q9m::platform
