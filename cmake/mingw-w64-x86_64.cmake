# Cross build for 64-bit Windows with mingw-w64 (Debian's packages).
#
# The -posix compilers carry the winpthreads threading model, so std::thread
# and std::mutex exist; everything is linked statically so the .exe needs no
# DLLs beside it. Tests run under Wine: CTest prefixes each test command with
# CMAKE_CROSSCOMPILING_EMULATOR, which starts wine with its own prefix inside
# the build folder and without debug chatter.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VERRIN_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VERRIN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VERRIN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VERRIN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VERRIN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# wine64 is the 64-bit loader; the plain `wine` wrapper wants the 32-bit
# half installed too and complains otherwise.
find_program(VERRIN_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VERRIN_WINE)
  # mscoree/mshtml disabled: no Mono or Gecko install prompts while the
  # prefix is created on the first run. wnaspi32 native: a wnaspi32.dll
  # beside the program (the tests' ASPI stand-in) is loaded instead of
  # Wine's own.
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
          "WINEDLLOVERRIDES=mscoree,mshtml=\\;wnaspi32=n" ${VERRIN_WINE})
endif()
