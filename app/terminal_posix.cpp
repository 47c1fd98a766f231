#include "app/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace q9m::app {

bool IsTerminal(std::FILE* out) {
  return isatty(fileno(out)) != 0;
}

size_t TerminalColumns(std::FILE* out) {
  winsize size{};
  if (ioctl(fileno(out), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace q9m::app
