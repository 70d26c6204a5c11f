# Cross build for 64-bit Windows with Debian's MinGW-w64 toolchain
# (packages g++-mingw-w64-x86-64-posix and, to run the tests, wine):
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The runtime is linked statically, so every .exe runs next to the board
# with no extra DLL.  Tests and test discovery run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VLM_MINGW_PREFIX x86_64-w64-mingw32)
# The posix thread model is the one whose libstdc++ has std::thread and
# std::mutex, which GoogleTest uses.
find_program(CMAKE_C_COMPILER NAMES ${VLM_MINGW_PREFIX}-gcc-posix ${VLM_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VLM_MINGW_PREFIX}-g++-posix ${VLM_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VLM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VLM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(VLM_WINE NAMES wine wine64)
if(VLM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VLM_WINE})
endif()
