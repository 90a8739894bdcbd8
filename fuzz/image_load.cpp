// Image files from strangers: the bytes are decoded as the format their
// first bytes name (BMP, GIF, JPEG, PNG). Every result is a refusal or a
// consistent image within the allocation limit, and a small image decoded
// survives being written and read again. The limit is lowered so that runs
// stay fast; run.sh has libFuzzer fail any single allocation far beyond it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "internal/ImageData.h"

namespace {

constexpr uint64_t kLimit = 16u << 20;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    wgfx::setAllocationLimit(kLimit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    wgfx::ImageData image;
    std::string error;
    if (!wgfx::decodeImage(data, size, image, error)) {
        FUZZ_CHECK(image.frames.empty());
        return 0;
    }
    FUZZ_CHECK(image.width > 0 && image.height > 0);
    FUZZ_CHECK(!image.frames.empty());
    FUZZ_CHECK(wgfx::fitsAllocationLimit(uint64_t(image.width), uint64_t(image.height), image.frames.size()));
    FUZZ_CHECK(image.delays.empty() || image.delays.size() == image.frames.size());
    for (const std::vector<uint32_t>& frame : image.frames)
        FUZZ_CHECK(frame.size() == size_t(image.width) * size_t(image.height));

    if (size_t(image.width) * size_t(image.height) > 4096) return 0;
    std::vector<uint8_t> gif;
    FUZZ_CHECK(wgfx::encodeGif(image, image.frames.size() - 1, gif));
    wgfx::ImageData again;
    FUZZ_CHECK(wgfx::decodeImage(gif.data(), gif.size(), again, error));
    FUZZ_CHECK(again.width == image.width && again.height == image.height && again.frames.size() == 1);
    return 0;
}
