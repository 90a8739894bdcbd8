#include "WStringTokenizer.h"

#include <cstring>

template class WLinkedList<WString, const char*>;

WStringTokenizer::WStringTokenizer(const char* text, const char* delimiter, bool trim)
{
    parse(text, delimiter, trim);
}

unsigned long WStringTokenizer::parse(const char* text, const char* delimiter, bool trim)
{
    removeAll();
    if (text == nullptr) return 0;
    size_t delimiterLength = delimiter != nullptr ? strlen(delimiter) : 0;
    const char* pos = text;
    while (delimiterLength > 0) {
        const char* hit = strstr(pos, delimiter);
        if (hit == nullptr) break;
        WString token(pos, (unsigned long)(hit - pos));
        if (trim) token.trim();
        add(token);
        pos = hit + delimiterLength;
    }
    if (size() > 0) {
        WString rest(pos);
        if (trim) rest.trim();
        add(rest);
    }
    return size();
}
