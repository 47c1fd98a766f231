#include "platform/named_mutex.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace q9m::platform {
namespace {

// Each test gets a runtime folder of its own, named by XDG_RUNTIME_DIR.
class NamedMutexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old) saved_ = old;
    hadOld_ = old != nullptr;
    char pattern[] = "/tmp/q9m-mutex-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
  }
  void TearDown() override {
    if (hadOld_) {
      setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
    std::filesystem::remove_all(folder_);
  }

  std::string FolderProblem() {
    std::string folder;
    std::string error;
    return NamedMutexFolder(&folder, &error) ? std::string() : error;
  }

  std::string folder_;
  std::string saved_;
  bool hadOld_ = false;
};

// The lock is held per open file, so a second creation in the same process already conflicts.
TEST_F(NamedMutexTest, ASecondCreationIsToldTheNameExistsUntilTheFirstIsClosed) {
  uint32_t error = 1;
  const MutexHandle first = CreateNamedMutex("Copy (2)", &error);
  ASSERT_NE(first, MutexHandle::kNoMutex);
  EXPECT_EQ(error, 0u);

  const MutexHandle second = CreateNamedMutex("Copy (2)", &error);
  ASSERT_NE(second, MutexHandle::kNoMutex);
  EXPECT_EQ(error, ERROR_ALREADY_EXISTS);
  CloseHandle(second);

  // Another name is not affected.
  const MutexHandle other = CreateNamedMutex("Copy (3)", &error);
  EXPECT_EQ(error, 0u);
  CloseHandle(other);

  // Closing the holder frees the name, although its file stays.
  CloseHandle(first);
  EXPECT_TRUE(std::filesystem::exists(folder_ + "/Copy (2).lock"));
  const MutexHandle again = CreateNamedMutex("Copy (2)", &error);
  EXPECT_EQ(error, 0u);
  CloseHandle(again);
}

TEST_F(NamedMutexTest, NamesThatCannotBeCreatedReportNoHandle) {
  uint32_t error = 0;
  EXPECT_EQ(CreateNamedMutex("", &error), MutexHandle::kNoMutex);
  EXPECT_NE(error, 0u);
  EXPECT_EQ(CreateNamedMutex("../escape", &error), MutexHandle::kNoMutex);
  EXPECT_NE(error, 0u);
  // A link in place of the file is never followed.
  std::filesystem::create_symlink("/tmp/elsewhere", folder_ + "/Linked.lock");
  EXPECT_EQ(CreateNamedMutex("Linked", &error), MutexHandle::kNoMutex);
  EXPECT_NE(error, 0u);
}

TEST_F(NamedMutexTest, AFolderThatOthersCouldUseIsRefusedWithItsReason) {
  EXPECT_EQ(FolderProblem(), "");

  ASSERT_EQ(chmod(folder_.c_str(), 0770), 0);
  EXPECT_EQ(FolderProblem(), "the folder " + folder_ + " may be written to by other users");
  ASSERT_EQ(chmod(folder_.c_str(), 0700), 0);

  setenv("XDG_RUNTIME_DIR", "relative/path", 1);
  EXPECT_EQ(FolderProblem(), "the folder relative/path (XDG_RUNTIME_DIR) is not an absolute path");

  const std::string file = folder_ + "/plain-file";
  std::ofstream(file) << "x";
  setenv("XDG_RUNTIME_DIR", file.c_str(), 1);
  EXPECT_EQ(FolderProblem(), "the folder " + file + " is not a directory");

  setenv("XDG_RUNTIME_DIR", (folder_ + "/missing").c_str(), 1);
  EXPECT_NE(FolderProblem().find("cannot be examined"), std::string::npos);

  // Creation fails outright (no handle) when the folder cannot be used.
  uint32_t error = 0;
  EXPECT_EQ(CreateNamedMutex("Copy", &error), MutexHandle::kNoMutex);
}

}  // namespace
}  // namespace q9m::platform
