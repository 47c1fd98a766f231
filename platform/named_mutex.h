// Named mutexes that hold a number for the life of a process, in the calling user's own name
// space.
//
// Linux has no named mutexes, so a name is a file in a private folder of this user's, and
// holding the mutex means holding an exclusive flock(2) on that file. The lock is taken
// atomically, a second holder is told that the name already exists, and the kernel lets go of
// it when the process ends in any way, SIGKILL included. The file itself stays; an unlocked
// file is a free name.
#pragma once

#include <cstdint>
#include <string>

namespace q9m::platform {

// A named mutex. kNoMutex: the creation failed outright.
enum class MutexHandle : intptr_t { kNoMutex = -1 };

// The platform's "already exists" error, reported after a creation that found the name held.
inline constexpr uint32_t ERROR_ALREADY_EXISTS = 183;

// The folder that holds the names: $XDG_RUNTIME_DIR when set, else /tmp/q9m-updater-UID,
// created with mode 0700. Either must be a directory of this user's that no one else can write
// to, so that another user's copies can neither take nor block this user's names. False, with
// the reason in `error` (which folder, what is wrong), when it cannot be used.
bool NamedMutexFolder(std::string* folder, std::string* error);

// Creates the mutex `name`, owned by the caller. Returns its handle and sets `lastError` to 0,
// or to ERROR_ALREADY_EXISTS when another holder has it (the handle still comes back and must
// be closed). Returns kNoMutex, with errno in `lastError`, when it cannot be created at all.
MutexHandle CreateNamedMutex(const std::string& name, uint32_t* lastError);

// Releases the mutex (if held) and frees the handle.
void CloseHandle(MutexHandle handle);

}  // namespace q9m::platform
