// PNG through libpng: read with the low-level interface, so sizes are
// checked before anything is allocated and 16-bit samples are narrowed
// without any gamma conversion; written through the simplified interface.
// Errors leave libpng by longjmp into decodePngWith only; everything that
// lives across that jump belongs to the caller.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "internal/ImageData.h"

namespace wgfx {
namespace {

static_assert(PNG_FORMAT_BGRA != 0, "libpng simplified API required");

// Deflate turns at most 1032 bytes out of one input byte (a 258-byte match
// in two bits); a little more allows for the stream's own overhead.
constexpr uint64_t kMaxInflateRatio = 1040;

// BGRA bytes in memory are 0xAARRGGBB words on a little-endian machine.
uint32_t wordFromBgra(const uint8_t* p)
{
    return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t pos;
    char message[128];
};

void readData(png_structp png, png_bytep target, size_t length)
{
    auto* in = static_cast<Reader*>(png_get_io_ptr(png));
    if (length > in->size - in->pos) png_error(png, "PNG data truncated");
    std::memcpy(target, in->data + in->pos, length);
    in->pos += length;
}

void onError(png_structp png, png_const_charp text)
{
    auto* in = static_cast<Reader*>(png_get_error_ptr(png));
    std::snprintf(in->message, sizeof in->message, "%s", text ? text : "PNG error");
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp)
{
}

// Everything that changes after setjmp lives in the caller's frame.
struct Work {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<png_bytep> rows;
};

bool decodePngWith(Reader& reader, ImageData& out, std::string& error, Work& work)
{
    work.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader, onError, onWarning);
    if (work.png == nullptr) {
        error = "cannot read PNG";
        return false;
    }
    work.info = png_create_info_struct(work.png);
    if (work.info == nullptr) {
        error = "cannot read PNG";
        return false;
    }
    if (setjmp(png_jmpbuf(work.png))) {
        error = reader.message;
        out = ImageData();
        return false;
    }
    png_set_read_fn(work.png, &reader, readData);
    png_set_user_limits(work.png, kMaxSide, kMaxSide);
    png_read_info(work.png, work.info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(work.png, work.info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
    if (!sizeAcceptable(width, height)) {
        error = "PNG size out of range";
        return false;
    }
    // The file must be able to hold the samples it claims, compressed.
    const uint64_t channels = png_get_channels(work.png, work.info);
    const uint64_t rawBytes = (uint64_t(width) * uint64_t(height) * channels * uint64_t(depth)) / 8;
    if (rawBytes / kMaxInflateRatio > reader.size) {
        error = "PNG data too short for its size";
        return false;
    }

    png_colorp plte = nullptr;
    int plteCount = 0;
    png_bytep trns = nullptr;
    int trnsCount = 0;
    const bool indexed = colourType == PNG_COLOR_TYPE_PALETTE;
    if (indexed) png_get_PLTE(work.png, work.info, &plte, &plteCount);
    const bool hasTrns = png_get_valid(work.png, work.info, PNG_INFO_tRNS) != 0;
    if (hasTrns) png_get_tRNS(work.png, work.info, &trns, &trnsCount, nullptr);
    const bool alpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || hasTrns;

    // Every kind becomes 8-bit B, G, R, A: the high byte of 16-bit samples,
    // no gamma, palettes and grey expanded, alpha from tRNS or opaque.
    if (depth == 16) png_set_strip_16(work.png);
    if (indexed) png_set_palette_to_rgb(work.png);
    if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(work.png);
    if (hasTrns) png_set_tRNS_to_alpha(work.png);
    if ((colourType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(work.png);
    if (!alpha) png_set_filler(work.png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(work.png);
    png_set_interlace_handling(work.png);
    png_read_update_info(work.png, work.info);
    if (png_get_rowbytes(work.png, work.info) != size_t(width) * 4) {
        error = "PNG format not supported";
        return false;
    }

    const int w = static_cast<int>(width), h = static_cast<int>(height);
    out.width = w;
    out.height = h;
    out.frames.assign(1, std::vector<uint32_t>(size_t(w) * size_t(h)));
    work.rows.resize(size_t(h));
    for (size_t y = 0; y < size_t(h); ++y)
        work.rows[y] = reinterpret_cast<png_bytep>(out.frames[0].data() + y * size_t(w));
    png_read_image(work.png, work.rows.data());
    // The words were filled as B, G, R, A bytes.
    for (uint32_t& pixel : out.frames[0])
        pixel = wordFromBgra(reinterpret_cast<const uint8_t*>(&pixel));

    if (alpha) out.flags |= IMAGE_FLAG_HAS_ALPHA;
    if (indexed && plteCount > 0) {
        out.pixelFormat = plteCount <= 2 ? PF_1BPP_INDEXED : plteCount <= 16 ? PF_4BPP_INDEXED : PF_8BPP_INDEXED;
        for (int i = 0; i < plteCount; ++i) {
            const uint32_t a = i < trnsCount && trns != nullptr ? trns[i] : 0xFF;
            out.palette.push_back(
                (a << 24) | (uint32_t(plte[i].red) << 16) | (uint32_t(plte[i].green) << 8) | plte[i].blue);
        }
    } else if (depth == 16) {
        out.pixelFormat = alpha ? PF_64BPP_ARGB : PF_48BPP_RGB;
    } else {
        out.pixelFormat = alpha ? PF_32BPP_ARGB : PF_24BPP_RGB;
    }
    return true;
}

} // namespace

bool decodePng(const uint8_t* data, size_t size, ImageData& out, std::string& error)
{
    Reader reader {data, size, 0, "PNG error"};
    Work work;
    const bool ok = decodePngWith(reader, out, error, work);
    png_destroy_read_struct(&work.png, work.info ? &work.info : nullptr, nullptr);
    if (!ok) out = ImageData();
    return ok;
}

bool encodePng(const ImageData& source, size_t frame, std::vector<uint8_t>& out)
{
    if (frame >= source.frames.size()) return false;
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
    if (!png_image_write_to_memory(&image, nullptr, &length, 0, bytes.data(), 0, nullptr)) return false;
    out.resize(length);
    return png_image_write_to_memory(&image, out.data(), &length, 0, bytes.data(), 0, nullptr) != 0;
}

} // namespace wgfx
