// What the console front end asks of the terminal it writes to, on each system.
#pragma once

#include <cstddef>
#include <cstdio>

namespace q9m::app {

// True when `out` is a terminal (a console window on Windows), not a pipe or a file.
bool IsTerminal(std::FILE* out);
// The terminal's width in columns; 0 when `out` is no terminal or the width is unknown.
size_t TerminalColumns(std::FILE* out);

// How wide a redrawn line may be: one column less than the terminal has, so that the line
// never wraps; 79 when the width is unknown.
inline size_t TerminalLineWidth(std::FILE* out) {
  const size_t columns = TerminalColumns(out);
  return columns > 1 ? columns - 1 : 79;
}

}  // namespace q9m::app
