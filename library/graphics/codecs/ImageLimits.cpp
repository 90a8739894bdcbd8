// The allocation limit shared by every decoder and by image-sized buffers.
#include <atomic>

#include "internal/ImageData.h"

namespace wgfx {
namespace {

// As Qt's image reader: 256 MB unless the application says otherwise.
constexpr uint64_t kDefaultLimit = 256ull * 1024 * 1024;
std::atomic<uint64_t> g_limit {kDefaultLimit};

} // namespace

uint64_t allocationLimit()
{
    return g_limit.load(std::memory_order_relaxed);
}

void setAllocationLimit(uint64_t bytes)
{
    g_limit.store(bytes, std::memory_order_relaxed);
}

bool fitsAllocationLimit(uint64_t width, uint64_t height, uint64_t frames)
{
    const uint64_t limit = allocationLimit();
    if (width == 0 || height == 0 || frames == 0) return true;
    // Divide instead of multiply: no product can wrap.
    uint64_t room = limit / 4;
    room /= width;
    room /= height;
    return frames <= room;
}

} // namespace wgfx
