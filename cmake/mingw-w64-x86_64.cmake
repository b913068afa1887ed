# Cross-builds for 64-bit Windows with Debian's mingw-w64 (the POSIX thread
# model, which std::thread and std::jthread need), and runs what it builds
# under Wine: tests and their discovery included.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DQUILLON_WIN_DEPS=<folder with include/ and GoogleTest's install>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# The Windows libraries and nothing of the build machine's, but for the
# folder of what was built for Windows here (GoogleTest) or is header-only
# and the same on both systems (CLI11).
set(QUILLON_WIN_DEPS "" CACHE PATH "Windows builds of the test libraries, and headers")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${QUILLON_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(QUILLON_WIN_DEPS)
  set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${QUILLON_WIN_DEPS}/include)
endif()

# Static: the C++ runtime and the thread library go into each program, so
# that it runs with no DLL beside it and no DLL path to set.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(QUILLON_WINE NAMES wine wine64)
if(QUILLON_WINE)
  # Through a wrapper that tries again a start Wine did not make.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine_test.sh)
endif()
