# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model, so
# std::thread works), linking the runtime statically so Plovix.exe runs alone.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${MINGW_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${MINGW_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Cross-built tests run under wine when it is there (ctest --preset windows).
find_program(PLOVIX_WINE NAMES wine wine64)
if(PLOVIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PLOVIX_WINE})
endif()

# GCC 12 reports overlaps that cannot happen in inlined std::string copies at -O2 and
# above (-Wrestrict, GCC bug 105329); with warnings as errors that breaks good code.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
