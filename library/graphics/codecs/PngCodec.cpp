// PNG through libpng's simplified interface, from and to memory.
#include <png.h>

#include <cstring>

#include "ImageData.h"

namespace wgfx {
namespace {

static_assert(PNG_FORMAT_BGRA != 0, "libpng simplified API required");

// BGRA bytes in memory are 0xAARRGGBB words on a little-endian machine.
uint32_t wordFromBgra(const uint8_t* p)
{
    return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}

} // namespace

bool decodePng(const uint8_t* data, size_t size, ImageData& out, std::string& error)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) {
        error = image.message;
        return false;
    }
    const png_uint_32 native = image.format;
    const unsigned entries = image.colormap_entries;
    if (!sizeAcceptable(image.width, image.height)) {
        png_image_free(&image);
        error = "PNG size out of range";
        return false;
    }
    const int w = static_cast<int>(image.width), h = static_cast<int>(image.height);
    std::vector<uint8_t> bytes(size_t(w) * size_t(h) * 4);
    image.format = PNG_FORMAT_BGRA;
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) {
        error = image.message;
        png_image_free(&image);
        return false;
    }
    out.width = w;
    out.height = h;
    out.frames.assign(1, std::vector<uint32_t>(size_t(w) * size_t(h)));
    for (size_t i = 0; i < out.frames[0].size(); ++i)
        out.frames[0][i] = wordFromBgra(bytes.data() + i * 4);
    const bool alpha = (native & PNG_FORMAT_FLAG_ALPHA) != 0;
    const bool wide = (native & PNG_FORMAT_FLAG_LINEAR) != 0;
    if (alpha)
        out.flags |= IMAGE_FLAG_HAS_ALPHA;

    if ((native & PNG_FORMAT_FLAG_COLORMAP) != 0 && entries > 0) {
        out.pixelFormat = entries <= 2 ? PF_1BPP_INDEXED : entries <= 16 ? PF_4BPP_INDEXED : PF_8BPP_INDEXED;
        // A second pass gives the colour map itself.
        png_image again;
        std::memset(&again, 0, sizeof again);
        again.version = PNG_IMAGE_VERSION;
        if (png_image_begin_read_from_memory(&again, data, size)) {
            again.format = PNG_FORMAT_BGRA | PNG_FORMAT_FLAG_COLORMAP;
            std::vector<uint8_t> indexes(size_t(w) * size_t(h));
            std::vector<uint8_t> map(size_t(PNG_IMAGE_MAXIMUM_COLORMAP_COMPONENTS(again.format) > 0 ? 256 * 4 : 0));
            if (png_image_finish_read(&again, nullptr, indexes.data(), 0, map.data()))
                for (unsigned i = 0; i < again.colormap_entries && i < 256; ++i)
                    out.palette.push_back(wordFromBgra(map.data() + i * 4));
            png_image_free(&again);
        }
    } else if (wide) {
        out.pixelFormat = alpha ? PF_64BPP_ARGB : PF_48BPP_RGB;
    } else {
        out.pixelFormat = alpha ? PF_32BPP_ARGB : PF_24BPP_RGB;
    }
    return true;
}

bool encodePng(const ImageData& source, size_t frame, std::vector<uint8_t>& out)
{
    if (frame >= source.frames.size())
        return false;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(source.width);
    image.height = static_cast<png_uint_32>(source.height);
    image.format = PNG_FORMAT_BGRA;
    std::vector<uint8_t> bytes(size_t(source.width) * size_t(source.height) * 4);
    for (size_t i = 0; i < source.frames[frame].size(); ++i) {
        uint32_t p = source.frames[frame][i];
        bytes[i * 4] = uint8_t(p);
        bytes[i * 4 + 1] = uint8_t(p >> 8);
        bytes[i * 4 + 2] = uint8_t(p >> 16);
        bytes[i * 4 + 3] = uint8_t(p >> 24);
    }
    png_alloc_size_t length = 0;
    if (!png_image_write_to_memory(&image, nullptr, &length, 0, bytes.data(), 0, nullptr))
        return false;
    out.resize(length);
    return png_image_write_to_memory(&image, out.data(), &length, 0, bytes.data(), 0, nullptr) != 0;
}

} // namespace wgfx
