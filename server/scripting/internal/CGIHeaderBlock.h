#pragma once

#include <cstddef>
#include <string>

// The value of a "Status:" line, "404" or "404 Not Found" (blanks around it
// ignored): three digits of a final status, then an optional reason text
// without control bytes. False for anything else; code and reason are then
// left alone. PHP scripts' "Status:" lines are read the same way.
bool parseStatusValue(const char* value, size_t length, unsigned& code, std::string& reason);

// The header lines a CGI program writes before its body (RFC 3875 6),
// checked as the output arrives. Internal to the CGI runner.
//
// Each line is "Name: value" ended by "\n" or "\r\n"; an empty line ends the
// block. The program's lines go on to the client as they came, each ended
// by CR LF, except "Status:", which becomes the status line instead. A line that is not a
// header line (no name, a blank or control byte in the name, a control
// byte or bare CR in the value, a folded continuation) makes the whole
// output unusable: the client would get a garbled answer.
class CGIHeaderBlock {
public:
    enum class State {
        Incomplete, // the empty line has not come yet
        Complete, // header lines checked; the rest is body
        Malformed, // see getProblem()
    };

    // A block larger than this without its empty line is refused.
    static constexpr size_t MAX_BYTES = 65536;

    // Takes the next bytes of the program's standard output. Bytes after the
    // block are collected as body until takeBody().
    State feed(const char* data, size_t length);
    // The program's output has ended: a block still incomplete is malformed.
    State finish();

    State getState() const { return state; }
    // A short text for the client when the output is malformed.
    const char* getProblem() const { return problem; }
    // True once any byte arrived.
    bool hasOutput() const { return received; }

    // 200; the code of "Status:"; 302 for "Location:" without "Status:".
    unsigned getStatusCode() const { return statusCode; }
    // The reason text of "Status:", "" when it gave none.
    const std::string& getReason() const { return reason; }
    // The program's header lines (without "Status:") and the empty line,
    // each ended by CR LF.
    const std::string& getHeaderLines() const { return headerLines; }
    // Body bytes received with the block; handed out once.
    std::string takeBody();

private:
    void checkLine(const char* line, size_t length);
    void fail(const char* why);

    State state = State::Incomplete;
    const char* problem = "";
    bool received = false;
    bool statusSeen = false;
    bool locationSeen = false;
    unsigned statusCode = 200;
    std::string reason;
    std::string pending;
    std::string headerLines;
    std::string body;
};
