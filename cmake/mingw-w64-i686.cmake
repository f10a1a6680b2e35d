# Cross build for 32-bit Windows with mingw-w64 (Debian's packages). Build
# only: the 32-bit binaries cannot run on these build machines, so no test
# emulator is set and the tests are not built.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(VERRIN_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VERRIN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VERRIN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VERRIN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VERRIN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
