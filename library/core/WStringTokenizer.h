#pragma once

#include "WLinkedList.h"
#include "WString.h"

// A list of the pieces of a text cut at a delimiter. A text without the
// delimiter (and the empty text) gives no tokens; otherwise every piece
// counts, empty ones and the remainder after the last delimiter included.
class WStringTokenizer : public WLinkedList<WString, const char*> {
public:
    WStringTokenizer() = default;
    WStringTokenizer(const char* text, const char* delimiter, bool trim);
    WStringTokenizer(const WStringTokenizer& other) = default;
    WStringTokenizer& operator=(const WStringTokenizer& other) = default;
    ~WStringTokenizer() override = default;

    // Replaces the content with the tokens of text; returns their number.
    unsigned long parse(const char* text, const char* delimiter, bool trim);
};
