#pragma once

#include "WString.h"

// error.log in the current folder, shared by both programs. Each line is
// appended with one write, so lines of several threads never interleave.
namespace ErrorLog {

inline constexpr const char* FILE_NAME = "error.log";

enum class LineBreaks {
    Escape, // one log line: every control byte is escaped
    Keep, // a block of lines (raw protocol text): '\n' stays
};

// The text with every control byte (below 0x20, and 0x7f) written as "\x1b"
// and the like, so that bytes a client sent cannot move the cursor, clear a
// terminal or forge log lines. The "\r\n   ->" that joins a chained
// exception's texts stays as it is.
WString escapeControlBytes(const char* text, LineBreaks breaks);

enum class Result {
    Written,
    NotRegularFile, // a FIFO, device or folder stands at the name: nothing written
    Failed, // could not open or write (errno tells)
};

// Appends "<time>: <message>\r\n", the message with its control bytes escaped. Never blocks on what stands at the name:
// the file is opened without waiting and written only when it is a regular file.
Result append(const char* time, const char* message);

// The same with the current local time in the log format.
Result append(const char* message);

} // namespace ErrorLog
