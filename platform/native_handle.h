#pragma once

#include <cstdint>

namespace quillon {

// A system object as its own system names it: a file descriptor on POSIX,
// a HANDLE on Windows; kept in a type of its own, never squeezed into an
// int, so that each body uses it as its system's calls take it.
#ifdef _WIN32
using NativeHandle = void*;
// INVALID_HANDLE_VALUE, without the system's header here.
inline NativeHandle const kNoHandle =
    reinterpret_cast<NativeHandle>(static_cast<std::intptr_t>(-1));
#else
using NativeHandle = int;
inline constexpr NativeHandle kNoHandle = -1;
#endif

}  // namespace quillon
