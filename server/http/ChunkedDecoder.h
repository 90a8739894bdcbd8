#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Decodes a request body sent with "Transfer-Encoding: chunked", in whatever
// pieces it arrives: hexadecimal size lines (extensions ignored), the data,
// the zero-size chunk and optional trailer lines up to the empty line. Line
// ends may be CRLF or a bare LF.
class ChunkedDecoder {
public:
    enum class Status {
        More, // the body goes on: feed the next bytes
        Done, // the last chunk and its trailers are complete
        Error, // malformed (a bad size, a missing line end, a size or line too large)
    };

    // Longest size or trailer line accepted.
    static constexpr size_t MAX_LINE = 4096;

    void reset();
    // Decodes data[0..n), appending the body bytes to out. consumed receives
    // how many input bytes were used (fewer than n only once Done or Error).
    Status feed(const char* data, size_t n, size_t& consumed, std::string& out);
    Status status() const
    {
        return state == State::Finished ? Status::Done : state == State::Failed ? Status::Error : Status::More;
    }

private:
    enum class State { Size, Extension, SizeLineEnd, Data, DataCR, DataLF, Trailer, Finished, Failed };

    State state = State::Size;
    uint64_t remaining = 0;
    size_t digits = 0;
    size_t lineLength = 0;
};
