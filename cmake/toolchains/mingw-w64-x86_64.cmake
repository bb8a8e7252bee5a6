# Cross-build for 64-bit Windows on Debian with mingw-w64 (g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake
# The posix flavour of the compiler is the one with std::thread and std::mutex. Programs are
# linked statically, so they need no DLL beyond Windows' own, and run under Wine for the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMIVEX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LUMIVEX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMIVEX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMIVEX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LUMIVEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static also pulls in winpthread, which the posix flavour's threads live in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs and the tests' listing run under Wine, in a prefix of the build folder's own so
# that a test never meets the user's Wine setup, and the registry keys a test adds die with it.
# No Mono or Gecko: the prefix is made without asking for them.
find_program(LUMIVEX_WINE wine)
if(LUMIVEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env "WINEPREFIX=${CMAKE_BINARY_DIR}/wine" WINEDEBUG=-all
      "WINEDLLOVERRIDES=mscoree,mshtml=" ${LUMIVEX_WINE})
endif()

# The panel is built on its Win32 backend; the simulated board and the benchmarks are Linux
# programs (pseudo-terminals, Qt).
set(LUMIVEX_BUILD_GUI ON CACHE BOOL "Build the panel (Qt on Linux, Win32 on Windows)")
set(LUMIVEX_BUILD_BENCH OFF CACHE BOOL "Build the benchmarks")
set(LUMIVEX_BUILD_BOARDSIM OFF CACHE BOOL "Build the simulated board")
