#include "internal/CGIErrorLines.h"

#include <cstdio>

void CGIErrorLines::emit()
{
    // Blank lines carry nothing worth a log line.
    if (!line.empty()) sink(line);
    line.clear();
}

void CGIErrorLines::feed(const char* data, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(data[i]);
        if (taken >= MAX_TOTAL) {
            dropped += length - i;
            return;
        }
        taken++;
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            emit();
            continue;
        }
        if (c == '\r') {
            // Kept until the next byte shows whether it ends the line.
            if (!line.empty() && line.back() == '\r') line.replace(line.size() - 1, 1, "\\x0d");
            line += '\r';
        } else {
            if (!line.empty() && line.back() == '\r') line.replace(line.size() - 1, 1, "\\x0d");
            if (c < 0x20 && c != '\t') {
                char escaped[8];
                snprintf(escaped, sizeof escaped, "\\x%02x", c);
                line += escaped;
            } else if (c == 0x7f) {
                line += "\\x7f";
            } else {
                line += static_cast<char>(c);
            }
        }
        if (line.size() >= MAX_LINE) {
            if (line.back() == '\r') line.replace(line.size() - 1, 1, "\\x0d");
            emit();
        }
    }
}

void CGIErrorLines::finish()
{
    if (!line.empty() && line.back() == '\r') line.pop_back();
    emit();
    if (dropped > 0) {
        char note[96];
        snprintf(note, sizeof note, "(%zu more bytes of error output dropped)", dropped);
        sink(note);
        dropped = 0;
    }
}
