# Cross-builds the Windows programs (64-bit) on Debian with mingw-w64:
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Packages: g++-mingw-w64-x86-64-posix, binutils-mingw-w64-x86-64, mingw-w64-x86-64-dev, and
# wine and wine64 to run the tests.
#
# The -posix compilers, named as such: the plain x86_64-w64-mingw32-g++ is the -win32 thread
# model, which has no std::thread, std::mutex or std::condition_variable.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(Q9M_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${Q9M_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${Q9M_MINGW_TRIPLE}-g++-posix)
set(CMAKE_ASM_COMPILER ${Q9M_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_RC_COMPILER ${Q9M_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${Q9M_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Statically linked, the C++ runtime and winpthreads included, so that the programs import only
# the system's own DLLs and run on a Windows with nothing installed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The test programs run under wine; the build folder's own wrapper (see the top-level
# CMakeLists.txt) gives them a private wine prefix.
find_program(Q9M_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(Q9M_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${Q9M_WINE})
endif()
