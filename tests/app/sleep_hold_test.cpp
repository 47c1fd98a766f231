// The programs' hold on sleep where the system offers none: the update goes on without it,
// and the program says so once.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/sleep_hold.h"

namespace q9m::app {
namespace {

TEST(SleepHold, WithoutASystemBusNothingIsHeldAndThatIsSaidOnce) {
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/q9m-test-bus", 1);
  std::vector<std::string> notices;
  const auto hold =
      SleepHoldWhileWriting([&](const std::string& text) { notices.push_back(text); });
  EXPECT_EQ(hold(), nullptr);
  EXPECT_EQ(hold(), nullptr);
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_NE(notices[0].find("not held off"), std::string::npos) << notices[0];
  EXPECT_NE(notices[0].find("no system bus"), std::string::npos) << notices[0];
}

}  // namespace
}  // namespace q9m::app
