#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace q9m::platform {

namespace {

bool Fail(std::string* error, const std::string& folder, const std::string& what) {
  if (error) *error = "the folder " + folder + " " + what;
  return false;
}

// A directory (not a link to one) that this user owns and no one else may write to; with
// `private_`, that no one else may enter either.
bool UsableFolder(const std::string& folder, bool private_, std::string* error) {
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0) {
    return Fail(error, folder, std::string("cannot be examined: ") + std::strerror(errno));
  }
  if (!S_ISDIR(info.st_mode)) return Fail(error, folder, "is not a directory");
  if (info.st_uid != geteuid()) return Fail(error, folder, "belongs to another user");
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return Fail(error, folder, "may be written to by other users");
  }
  if (private_ && (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    return Fail(error, folder, "is open to other users (it must have mode 0700)");
  }
  if (access(folder.c_str(), R_OK | W_OK | X_OK) != 0) {
    return Fail(error, folder, std::string("cannot be used: ") + std::strerror(errno));
  }
  return true;
}

std::string PathOf(const std::string& name) {
  std::string folder;
  if (!NamedMutexFolder(&folder, nullptr)) return {};
  return folder + "/" + name + ".lock";
}

}  // namespace

bool NamedMutexFolder(std::string* folder, std::string* error) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const bool fromEnvironment = runtime != nullptr && *runtime != '\0';
  const std::string path =
      fromEnvironment ? std::string(runtime) : "/tmp/q9m-updater-" + std::to_string(geteuid());
  if (path.front() != '/') return Fail(error, path, "(XDG_RUNTIME_DIR) is not an absolute path");
  if (!fromEnvironment && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    return Fail(error, path, std::string("cannot be created: ") + std::strerror(errno));
  }
  // The folder in /tmp is ours alone; the runtime folder is the session's, which may be 0711.
  if (!UsableFolder(path, !fromEnvironment, error)) return false;
  if (folder) *folder = path;
  return true;
}

MutexHandle CreateNamedMutex(const std::string& name, uint32_t* lastError) {
  *lastError = 0;
  if (name.empty() || name.find('/') != std::string::npos) {
    *lastError = EINVAL;
    return MutexHandle::kNoMutex;
  }
  const std::string path = PathOf(name);
  if (path.empty()) {
    *lastError = ENOENT;
    return MutexHandle::kNoMutex;
  }
  // O_CLOEXEC: a program this one starts must not inherit, and so keep, the number.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    *lastError = static_cast<uint32_t>(errno);
    return MutexHandle::kNoMutex;
  }
  int locked;
  do {
    locked = flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    *lastError = errno == EWOULDBLOCK ? ERROR_ALREADY_EXISTS : static_cast<uint32_t>(errno);
    if (*lastError != ERROR_ALREADY_EXISTS) {
      close(fd);
      return MutexHandle::kNoMutex;
    }
  }
  return static_cast<MutexHandle>(fd);
}

void CloseHandle(MutexHandle handle) {
  if (handle == MutexHandle::kNoMutex) return;
  close(static_cast<int>(handle));  // closing the last descriptor releases the lock
}

}  // namespace q9m::platform
