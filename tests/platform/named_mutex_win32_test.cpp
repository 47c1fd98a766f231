// Named mutexes over the system's own: a name held by any handle, in this process or another,
// is reported as existing.
#include <gtest/gtest.h>

#include <string>

#include "platform/named_mutex.h"

namespace q9m::platform {
namespace {

// Names of this test's own, so that no other program's mutex is ever met.
const std::string kName = "q9m platform_tests Copy (2)";

TEST(NamedMutex, ASecondCreationIsToldTheNameExistsUntilTheFirstIsClosed) {
  uint32_t error = 1;
  const MutexHandle first = CreateNamedMutex(kName, &error);
  ASSERT_NE(first, MutexHandle::kNoMutex);
  EXPECT_EQ(error, 0u);

  const MutexHandle second = CreateNamedMutex(kName, &error);
  ASSERT_NE(second, MutexHandle::kNoMutex);
  EXPECT_EQ(error, ERROR_ALREADY_EXISTS);
  CloseHandle(second);

  // Closing the second handle leaves the name to the first; another name is not affected.
  CloseHandle(CreateNamedMutex(kName, &error));
  EXPECT_EQ(error, ERROR_ALREADY_EXISTS);
  const MutexHandle other = CreateNamedMutex("q9m platform_tests Copy (3)", &error);
  EXPECT_EQ(error, 0u);
  CloseHandle(other);

  CloseHandle(first);
  const MutexHandle again = CreateNamedMutex(kName, &error);
  EXPECT_EQ(error, 0u);
  CloseHandle(again);
}

// Another name space ("Global\", "Local\"), an empty name or one that is not UTF-8 is refused
// before the system sees it.
TEST(NamedMutex, NamesThatCannotBeCreatedReportNoHandle) {
  for (const std::string& name : {std::string(), std::string("Global\\q9m"),
                                  std::string("Local\\q9m"), std::string("q9m \xFF")}) {
    uint32_t error = 0;
    EXPECT_EQ(CreateNamedMutex(name, &error), MutexHandle::kNoMutex) << name;
    EXPECT_NE(error, 0u) << name;
  }
}

}  // namespace
}  // namespace q9m::platform
