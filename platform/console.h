#pragma once

#include <cstddef>

namespace quillon {

enum class ConsoleStream { Out, Err };

// Writes all of it, waiting as long as the reader makes it; false once the
// stream refuses (a closed pipe, a hung-up terminal), whatever got out.
bool ConsoleWrite(ConsoleStream stream, const char* text, std::size_t size);
bool ConsoleIsTerminal(ConsoleStream stream);
// The width of the terminal behind the stream in columns; 0 when unknown.
int ConsoleColumns(ConsoleStream stream);

}  // namespace quillon
