// A stand-in for a running copy of the updater, for the tests of instance numbering: it takes
// a number as the updater does, prints "instance N" (or "refused"), and holds the number until
// its standard input closes or it is killed.
#include <unistd.h>

#include <cstdio>

#include "app/instance_numbering.h"

int main() {
  const q9m::app::InstanceClaim claim = q9m::app::TakeInstanceNumber();
  if (claim.number == 0) {
    std::printf("refused\n");
    return 1;
  }
  std::printf("instance %d\n", claim.number);
  std::fflush(stdout);
  char byte;
  while (read(STDIN_FILENO, &byte, 1) > 0) {
  }
  return 0;
}
