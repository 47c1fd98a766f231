# Settings of the Windows build (cross-built with cmake/mingw-w64-x86_64.cmake).

if(NOT CMAKE_CXX_COMPILER MATCHES "posix")
  message(WARNING "${CMAKE_CXX_COMPILER} may be the win32 thread model of mingw-w64, which has no "
    "std::thread or std::mutex: use the toolchain file cmake/mingw-w64-x86_64.cmake")
endif()

# Windows 10 and later (WaitOnAddress needs 8); the wide (UTF-16) forms of the system's calls;
# no min and max macros, which would break std::min and std::max; mingw-w64's own C99 printf
# family, since msvcrt's knows no %zu or %lld.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE NOMINMAX
  WIN32_LEAN_AND_MEAN __USE_MINGW_ANSI_STDIO=1)

# Test programs run under wine, each in this build folder's own wine prefix, which the first
# run creates. The prefix stays, so later runs start in a fraction of a second.
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR MATCHES "wine")
  set(Q9M_WINE ${CMAKE_CROSSCOMPILING_EMULATOR})
  set(Q9M_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
  get_filename_component(wine_dir ${Q9M_WINE} DIRECTORY)
  find_program(Q9M_WINESERVER NAMES wineserver64 wineserver PATHS ${wine_dir} /usr/lib/wine
    NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE @ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
endif()
