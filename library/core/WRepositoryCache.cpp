#include "internal/WRepositoryCache.h"

#include <cerrno>
#include <memory>

#include "WException.h"
#include "internal/WRepositoryFormat.h"
#include "WSystem.h"

namespace {

struct CacheEntry {
    std::unique_ptr<WRepositoryDirectory> directory;
    unsigned long useCount;
};

using CacheTable = WHashtable<WString, CacheEntry*, const char*, CacheEntry*>;

// Set once the cache has been destroyed at unload, so that a reader that
// outlives it does not touch freed memory.
bool g_cacheGone = false;

struct Cache {
    CacheTable table;

    ~Cache()
    {
        while (table.hasMoreElements())
            delete table.currentValue();
        g_cacheGone = true;
    }
};

Cache& cache()
{
    static Cache instance;
    return instance;
}

class LibraryLock {
public:
    LibraryLock() { WSystem::enterMutex(g_mutex); }
    ~LibraryLock() { WSystem::leaveMutex(g_mutex); }
    LibraryLock(const LibraryLock&) = delete;
    LibraryLock& operator=(const LibraryLock&) = delete;
};

[[noreturn]] void throwDamaged(const char* path)
{
    WFormattedString message("Damaged repository file: %s", path);
    throw WRepositoryFileException(message);
}

// Reads and checks the whole directory: every name must end inside its field
// and every member must lie inside the file.
std::unique_ptr<WRepositoryDirectory> parse(const char* path, WFile& archive, uint32_t entries)
{
    using namespace WRepositoryFormat;
    const unsigned long long fileSize = archive.getSize();
    if (HEADER_SIZE + (unsigned long long)entries * ENTRY_SIZE > fileSize) throwDamaged(path);

    auto directory = std::make_unique<WRepositoryDirectory>();
    constexpr uint32_t CHUNK = 64;
    unsigned char buffer[CHUNK * ENTRY_SIZE];
    for (uint32_t done = 0; done < entries;) {
        uint32_t n = entries - done < CHUNK ? entries - done : CHUNK;
        archive.read(buffer, n * ENTRY_SIZE);
        for (uint32_t i = 0; i < n; i++) {
            WRepositoryEntry entry;
            if (!decodeEntry(buffer + i * ENTRY_SIZE, entry)) throwDamaged(path);
            if ((unsigned long long)entry.offset + entry.size > fileSize) throwDamaged(path);
            directory->put(entry.name, entry);
        }
        done += n;
    }
    return directory;
}

} // namespace

const WRepositoryDirectory* WRepositoryCache::acquire(const char* path, WFile& archive, uint32_t entries)
{
    LibraryLock lock;
    if (CacheEntry** found = cache().table.find(path)) {
        (*found)->useCount++;
        return (*found)->directory.get();
    }
    auto entry = std::make_unique<CacheEntry>();
    entry->directory = parse(path, archive, entries);
    entry->useCount = 1;
    const WRepositoryDirectory* directory = entry->directory.get();
    cache().table.put(path, entry.get());
    entry.release();
    return directory;
}

void WRepositoryCache::release(const char* path) noexcept
{
    if (g_cacheGone) return;
    LibraryLock lock;
    CacheEntry** found = cache().table.find(path);
    if (found == nullptr) return;
    CacheEntry* entry = *found;
    if (--entry->useCount == 0) {
        cache().table.remove(path);
        delete entry;
    }
}

unsigned long WRepositoryCache::useCount(const char* path)
{
    LibraryLock lock;
    CacheEntry** found = cache().table.find(path);
    return found != nullptr ? (*found)->useCount : 0;
}
