// What the console front end asks of the terminal it writes to, on each system.
#pragma once

#include <cstddef>
#include <cstdio>

namespace q9m::app {

// True when `out` is a terminal (a console window on Windows), not a pipe or a file.
bool IsTerminal(std::FILE* out);
// The terminal's width in columns; 0 when `out` is no terminal or the width is unknown.
size_t TerminalColumns(std::FILE* out);

}  // namespace q9m::app
