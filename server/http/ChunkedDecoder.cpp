#include "ChunkedDecoder.h"

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

void ChunkedDecoder::reset()
{
    state = State::Size;
    remaining = 0;
    digits = 0;
    lineLength = 0;
}

ChunkedDecoder::Status ChunkedDecoder::feed(const char* data, size_t n, size_t& consumed, std::string& out)
{
    size_t i = 0;
    while (i < n && state != State::Finished && state != State::Failed) {
        char c = data[i];
        switch (state) {
        case State::Size: {
            int v = hexValue(c);
            if (v >= 0) {
                // Fifteen digits keep the size well inside 64 bits.
                if (++digits > 15) {
                    state = State::Failed;
                    continue;
                }
                remaining = remaining * 16 + (uint64_t)v;
                ++i;
            } else if (digits == 0) {
                state = State::Failed;
            } else if (c == ';' || c == ' ' || c == '\t') {
                state = State::Extension;
                lineLength = 0;
                ++i;
            } else if (c == '\r') {
                state = State::SizeLineEnd;
                ++i;
            } else if (c == '\n') {
                state = State::SizeLineEnd;
            } else {
                state = State::Failed;
            }
            break;
        }
        case State::Extension:
            if (c == '\n') {
                state = State::SizeLineEnd;
            } else if (++lineLength > MAX_LINE) {
                state = State::Failed;
            } else {
                ++i;
            }
            break;
        case State::SizeLineEnd:
            if (c != '\n') {
                state = State::Failed;
                break;
            }
            ++i;
            digits = 0;
            lineLength = 0;
            state = remaining == 0 ? State::Trailer : State::Data;
            break;
        case State::Data: {
            size_t take = n - i;
            if ((uint64_t)take > remaining) take = (size_t)remaining;
            out.append(data + i, take);
            i += take;
            remaining -= take;
            if (remaining == 0) state = State::DataCR;
            break;
        }
        case State::DataCR:
            if (c == '\r') {
                ++i;
                state = State::DataLF;
            } else if (c == '\n') {
                state = State::DataLF;
            } else {
                state = State::Failed;
            }
            break;
        case State::DataLF:
            if (c != '\n') {
                state = State::Failed;
                break;
            }
            ++i;
            state = State::Size;
            break;
        case State::Trailer:
            // Trailer lines are read over; an empty one ends the body.
            ++i;
            if (c == '\n') {
                if (lineLength == 0) state = State::Finished;
                lineLength = 0;
            } else if (c != '\r' && ++lineLength > MAX_LINE) {
                state = State::Failed;
            }
            break;
        case State::Finished:
        case State::Failed:
            break;
        }
    }
    consumed = i;
    return status();
}
