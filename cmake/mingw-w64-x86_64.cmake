# Cross-building for 64-bit Windows on Debian with MinGW-w64, posix thread
# model (std::thread and std::mutex need it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QS_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QS_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW sysroot and from the prefixes in
# QS_WINDOWS_DEPS (the cross-built Qt and libpq), never from the host's;
# programs (moc, rcc, uic) from the host.
set(QS_WINDOWS_DEPS "" CACHE STRING "Prefixes of the cross-built Qt and libpq")
set(CMAKE_FIND_ROOT_PATH /usr/${QS_MINGW_TRIPLE} ${QS_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and probes run the result under Wine.
find_program(QS_WINE wine)
if(QS_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QS_WINE})
endif()
