#include "HtmlEscape.h"

#include <cstring>

void appendHtmlEscaped(WString& out, const char* text)
{
    const char* run = text;
    for (const char* p = text;; ++p) {
        const char* entity;
        switch (*p) {
        case '&':
            entity = "&amp;";
            break;
        case '<':
            entity = "&lt;";
            break;
        case '>':
            entity = "&gt;";
            break;
        case '"':
            entity = "&quot;";
            break;
        case '\0':
            entity = nullptr;
            break;
        default:
            continue;
        }
        if (p > run) out.append(reinterpret_cast<const unsigned char*>(run), (unsigned long)(p - run));
        if (!entity) return;
        out.append(entity);
        run = p + 1;
    }
}
