#pragma once

// error.log in the current folder, shared by both programs. Each line is
// appended with one write, so lines of several threads never interleave.
namespace ErrorLog {

inline constexpr const char* FILE_NAME = "error.log";

enum class Result {
    Written,
    NotRegularFile, // a FIFO, device or folder stands at the name: nothing written
    Failed,         // could not open or write (errno tells)
};

// Appends "<time>: <message>\r\n". Never blocks on what stands at the name:
// the file is opened without waiting and written only when it is a regular file.
Result append(const char* time, const char* message);

// The same with the current local time in the log format.
Result append(const char* message);

} // namespace ErrorLog
