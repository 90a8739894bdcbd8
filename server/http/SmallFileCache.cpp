#include "SmallFileCache.h"

#include "SettledChange.h"

#include <memory>

namespace {

thread_local std::unique_ptr<SmallFileCache> g_cache;

} // namespace

SmallFileCache* SmallFileCache::forThisThread()
{
    return g_cache.get();
}

void SmallFileCache::enableForThisThread()
{
    if (!g_cache) g_cache = std::make_unique<SmallFileCache>();
}

const SmallFileCache::Entry* SmallFileCache::kept(std::string_view path) const
{
    auto it = entries.find(path);
    return it == entries.end() ? nullptr : &it->second;
}

void SmallFileCache::keep(std::string_view path, const Stamp& stamp, const char* bytes, size_t length)
{
    if (length != stamp.size || length > LARGEST_FILE) return;
    int64_t lastChange = stamp.modifiedNs > stamp.changedNs ? stamp.modifiedNs : stamp.changedNs;
    if (!changeHasSettled(lastChange, SETTLED_NS)) return;
    auto it = entries.find(path);
    if (it != entries.end()) {
        used -= it->first.size() + it->second.bytes.size();
        entries.erase(it);
    }
    size_t cost = path.size() + length;
    if (used + cost > BUDGET_BYTES) {
        // Full: start again rather than track which entry is the oldest.
        entries.clear();
        used = 0;
    }
    Entry& entry = entries[std::string(path)];
    entry.stamp = stamp;
    entry.bytes.assign(bytes, length);
    used += cost;
}
