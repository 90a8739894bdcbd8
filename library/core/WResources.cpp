#include "WResources.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "WString.h"

namespace {
struct Table {
    const WStringResource* entries;
    unsigned long count;
};
std::mutex g_resourceLock;
std::vector<Table>& tables()
{
    static std::vector<Table> t;
    return t;
}
} // namespace

void WResources::registerStrings(const WStringResource* table, unsigned long count)
{
    std::lock_guard<std::mutex> lock(g_resourceLock);
    tables().push_back({table, count});
}

const char* WResources::findString(unsigned long id)
{
    std::lock_guard<std::mutex> lock(g_resourceLock);
    for (const Table& t : tables())
        for (unsigned long i = 0; i < t.count; ++i)
            if (t.entries[i].id == id) return t.entries[i].text;
    return nullptr;
}

WString& WResourceString::loadResource(unsigned long id)
{
    if (bufLength < 2) resize(255);
    const char* text = WResources::findString(id);
    if (!text || !*text) {
        resize(0);
        return *this;
    }
    unsigned long n = strlen(text);
    if (n > bufLength - 1) n = bufLength - 1;
    memcpy(buf, text, n);
    buf[n] = 0;
    len = n;
    return *this;
}
