// Many complete updates in a row in one process, each against the simulated device on the
// in-process MIDI service (its own service, device, session and worker), on the real clock.
// After every update it samples the process's resident memory, threads and open descriptors;
// what the first update left must still be all that the last one leaves.
// Usage: soak_bench [UPDATES]   (50 by default). Exit status 1 when an update failed or the
// threads or descriptors after the last differ from those after the first.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "bench/update_run.h"

namespace {

struct Sample {
  long residentKiB = 0;
  int threads = 0;
  int descriptors = 0;
};

// Entries of a /proc folder, without "." and "..".
int CountEntries(const char* folder) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
}

Sample Take() {
  Sample s;
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  s.residentKiB = resident * (sysconf(_SC_PAGESIZE) / 1024);
  s.threads = CountEntries("/proc/self/task");
  s.descriptors = CountEntries("/proc/self/fd") - 1;  // less the one that reads the folder
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const int updates = argc > 1 ? std::atoi(argv[1]) : 50;
  if (updates < 2) {
    std::fprintf(stderr, "usage: soak_bench [UPDATES >= 2]\n");
    return 2;
  }
  const Sample before = Take();
  std::printf("before: resident %ld KiB, %d threads, %d descriptors\n", before.residentKiB,
              before.threads, before.descriptors);
  Sample first, last;
  double seconds = 0;
  for (int i = 1; i <= updates; ++i) {
    const q9m::bench::UpdateResult result = q9m::bench::RunWorkerUpdate({});
    if (const std::string failure = result.Failure(); !failure.empty()) {
      std::printf("update %d failed: %s\n", i, failure.c_str());
      return 1;
    }
    seconds += result.wallSeconds;
    last = Take();
    if (i == 1) first = last;
    std::printf("update %2d: %.2f s; resident %ld KiB, %d threads, %d descriptors\n", i,
                result.wallSeconds, last.residentKiB, last.threads, last.descriptors);
    std::fflush(stdout);
  }
  std::printf(
      "%d updates, %.2f s each on average. After the first: resident %ld KiB, %d threads, %d "
      "descriptors; after the last: resident %ld KiB (%+ld), %d threads, %d descriptors.\n",
      updates, seconds / updates, first.residentKiB, first.threads, first.descriptors,
      last.residentKiB, last.residentKiB - first.residentKiB, last.threads, last.descriptors);
  return first.threads == last.threads && first.descriptors == last.descriptors ? 0 : 1;
}
