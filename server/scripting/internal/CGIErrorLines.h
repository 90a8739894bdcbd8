#pragma once

#include <cstddef>
#include <functional>
#include <string>

// Cuts a CGI program's standard error into log lines. Internal to the CGI
// runner.
//
// Control bytes are written as \xNN, so a program cannot move the cursor of
// the console or forge lines in error.log. Overlong lines are cut into
// pieces; past a limit per run the rest is counted and dropped, so a flood
// cannot fill the disk.
class CGIErrorLines {
public:
    using Sink = std::function<void(const std::string& line)>;

    static constexpr size_t MAX_LINE = 2048;
    static constexpr size_t MAX_TOTAL = 65536;

    explicit CGIErrorLines(Sink lineSink) : sink(std::move(lineSink)) { }

    void feed(const char* data, size_t length);
    // Hands out a last line without its line end and says how much was
    // dropped, if anything was.
    void finish();

private:
    void emit();

    Sink sink;
    std::string line;
    size_t taken = 0;
    size_t dropped = 0;
};
