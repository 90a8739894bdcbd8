#include "MimeTypeMap.h"

#include "WFile.h"

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

MimeTypeMap::MimeTypeMap() : defaultType("text/plain")
{
}

MimeTypeMap::MimeTypeMap(const char* fileName) : defaultType("text/plain")
{
    load(fileName);
}

MimeTypeMap::~MimeTypeMap() = default;

void MimeTypeMap::load(const char* fileName)
{
    WFile file;
    file.open(fileName, false); // a missing file throws before the table is touched
    types.removeAll();
    WString line;
    while (file.readln(line))
        parseLine(line);
    file.close();
}

void MimeTypeMap::parseLine(const char* line)
{
    const char* p = line;
    while (isBlank(*p))
        ++p;
    if (*p == '\0' || *p == '#') return;
    WString type;
    bool haveType = false;
    while (*p) {
        const char* end = p;
        while (*end && !isBlank(*end))
            ++end;
        WString token(p, (unsigned long)(end - p));
        if (!haveType) {
            type = token;
            haveType = true;
        } else {
            types.put(token, type);
        }
        p = end;
        while (isBlank(*p))
            ++p;
    }
}

const char* MimeTypeMap::getMimeType(const char* extension) const
{
    const WString* type = types.find(extension, nullptr);
    return type ? type->getBuf() : defaultType.getBuf();
}

void MimeTypeMap::setDefaultType(const char* type)
{
    defaultType = type;
}
