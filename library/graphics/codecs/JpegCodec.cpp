// JPEG through libjpeg-turbo, from and to memory. Errors leave the library
// by longjmp into these functions only; no object with a destructor is
// created between setjmp and the end of the work.
#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include <jerror.h>
#include <jpeglib.h>

#include "internal/ImageData.h"

namespace wgfx {
namespace {

// Scans a file may have: a normal progressive file has about ten, a
// hostile one thousands that each walk the whole image. The blocks all its
// scans visit together are bounded too, by an eighth of the allocation
// limit's byte count: 2^25 with the default limit, well under a second.
constexpr int kMaxScans = 1000;

struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool truncated;
    JDIMENSION truncatedAt; // the output row when the data ran out
    int scansSeen;
    uint64_t blocksLeft;
};

void onError(j_common_ptr info)
{
    auto* err = reinterpret_cast<ErrorManager*>(info->err);
    info->err->format_message(info, err->message);
    longjmp(err->jump, 1);
}

// Warnings are not shown; the one that says the data ran out is noted, since
// libjpeg then makes up the missing pixels.
void onMessage(j_common_ptr info, int level)
{
    auto* err = reinterpret_cast<ErrorManager*>(info->err);
    if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF && !err->truncated) {
        err->truncated = true;
        err->truncatedAt = reinterpret_cast<j_decompress_ptr>(info)->output_scanline;
    }
}

// Called between pieces of input, also once at the start of every scan
// before its data is read: ends the work of a file with too many scans.
void onProgress(j_common_ptr common)
{
    auto* err = reinterpret_cast<ErrorManager*>(common->err);
    auto* info = reinterpret_cast<j_decompress_ptr>(common);
    if (info->input_scan_number == err->scansSeen) return;
    err->scansSeen = info->input_scan_number;
    uint64_t blocks = 0;
    for (int c = 0; c < info->comps_in_scan; ++c)
        blocks += uint64_t(info->cur_comp_info[c]->width_in_blocks) * info->cur_comp_info[c]->height_in_blocks;
    if (info->input_scan_number > kMaxScans || blocks > err->blocksLeft) {
        std::snprintf(err->message, sizeof err->message, "JPEG has too many scans");
        longjmp(err->jump, 1);
    }
    err->blocksLeft -= blocks;
}

// Everything that changes after setjmp lives in the caller's frame.
struct Work {
    std::vector<uint8_t> row;
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
};

// CMYK as Adobe writes it is stored inverted (255 = no ink); plain CMYK
// is not.
uint32_t rgbFromCmyk(const uint8_t* p, bool inverted)
{
    uint32_t c = p[0], m = p[1], y = p[2], k = p[3];
    if (!inverted) {
        c = 255 - c;
        m = 255 - m;
        y = 255 - y;
        k = 255 - k;
    }
    const uint32_t r = (c * k + 127) / 255, g = (m * k + 127) / 255, b = (y * k + 127) / 255;
    return (r << 16) | (g << 8) | b;
}

bool decodeJpegWith(const uint8_t* data, size_t size, ImageData& out, std::string& error, Work& work)
{
    jpeg_decompress_struct info;
    ErrorManager err;
    jpeg_progress_mgr progress;
    info.err = jpeg_std_error(&err.base);
    err.base.error_exit = onError;
    err.base.emit_message = onMessage;
    err.message[0] = '\0';
    err.truncated = false;
    err.truncatedAt = 0;
    err.scansSeen = 0;
    err.blocksLeft = allocationLimit() / 8;
    std::vector<uint8_t>& row = work.row;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&info);
        error = err.message;
        out = ImageData();
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    auto refuse = [&](const char* why) {
        jpeg_destroy_decompress(&info);
        error = why;
        out = ImageData();
        return false;
    };
    const bool grey = info.jpeg_color_space == JCS_GRAYSCALE;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
    if (!sizeAcceptable(info.image_width, info.image_height)) return refuse("JPEG size out of range");
    // Every block of the full-resolution component costs at least one bit
    // of Huffman-coded data in the first scan.
    const uint64_t fullBlocks = ((uint64_t(info.image_width) + 7) / 8) * ((uint64_t(info.image_height) + 7) / 8);
    if (!info.arith_code && fullBlocks / 8 > size) return refuse("JPEG data too short for its size");
    progress.progress_monitor = onProgress;
    info.progress = &progress;
    // The library's own buffers (all the coefficients of a progressive file)
    // share the allocation limit with the pixels made here.
    const uint64_t pixelBytes = uint64_t(info.image_width) * uint64_t(info.image_height) * 4;
    const uint64_t room = allocationLimit() > pixelBytes ? allocationLimit() - pixelBytes : 0;
    info.mem->max_memory_to_use = static_cast<long>(std::clamp<uint64_t>(room, 1, uint64_t(LONG_MAX)));

    jpeg_start_decompress(&info);
    const int w = static_cast<int>(info.output_width), h = static_cast<int>(info.output_height);
    const int channels = info.output_components;
    const bool inverted = info.saw_Adobe_marker;
    out.width = w;
    out.height = h;
    out.frames.assign(1, std::vector<uint32_t>(size_t(w) * size_t(h)));
    row.resize(size_t(w) * size_t(channels));
    while (info.output_scanline < info.output_height) {
        const int y = static_cast<int>(info.output_scanline);
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        uint32_t* target = out.frames[0].data() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = row.data() + size_t(x) * size_t(channels);
            if (channels == 1)
                target[x] = 0xFF000000u | (uint32_t(p[0]) * 0x010101u);
            else if (channels == 4)
                target[x] = 0xFF000000u | rgbFromCmyk(p, inverted);
            else
                target[x] = 0xFF000000u | (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
        }
    }
    // Rows the data did not reach were made up (grey): refused. A file that
    // only lacks its end marker (the decoder reads ahead for it while on the
    // last rows), or a progressive one cut between scans, keeps what it has.
    const JDIMENSION lastRows = 2 * JDIMENSION(info.max_v_samp_factor) * DCTSIZE;
    if (err.truncated && !jpeg_has_multiple_scans(&info) && err.truncatedAt + lastRows < info.output_height)
        return refuse("JPEG data truncated");
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (grey) {
        out.pixelFormat = PF_8BPP_INDEXED;
        for (uint32_t i = 0; i < 256; ++i)
            out.palette.push_back(0xFF000000u | (i * 0x010101u));
    } else {
        out.pixelFormat = PF_24BPP_RGB;
    }
    return true;
}

bool encodeJpegWith(const ImageData& image, size_t frame, int q, std::vector<uint8_t>& out, Work& work)
{
    jpeg_compress_struct info;
    ErrorManager err;
    info.err = jpeg_std_error(&err.base);
    err.base.error_exit = onError;
    err.base.emit_message = onMessage;
    std::vector<uint8_t>& row = work.row;
    row.assign(size_t(image.width) * 3, 0);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &work.buffer, &work.length);
    info.image_width = static_cast<JDIMENSION>(image.width);
    info.image_height = static_cast<JDIMENSION>(image.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, q, TRUE); // libjpeg takes 0 as 1
    jpeg_start_compress(&info, TRUE);
    const std::vector<uint32_t>& pixels = image.frames[frame];
    while (info.next_scanline < info.image_height) {
        const uint32_t* source = pixels.data() + size_t(info.next_scanline) * size_t(image.width);
        for (int x = 0; x < image.width; ++x) {
            row[size_t(x) * 3] = uint8_t(source[x] >> 16);
            row[size_t(x) * 3 + 1] = uint8_t(source[x] >> 8);
            row[size_t(x) * 3 + 2] = uint8_t(source[x]);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    out.assign(work.buffer, work.buffer + work.length);
    return true;
}

} // namespace

bool decodeJpeg(const uint8_t* data, size_t size, ImageData& out, std::string& error)
{
    Work work;
    return decodeJpegWith(data, size, out, error, work);
}

bool encodeJpeg(const ImageData& image, size_t frame, long quality, std::vector<uint8_t>& out)
{
    if (frame >= image.frames.size() || image.width <= 0 || image.height <= 0) return false;
    const int q = quality > 100 ? 100 : (quality < 0 ? 0 : static_cast<int>(quality));
    Work work;
    bool ok = encodeJpegWith(image, frame, q, out, work);
    free(work.buffer);
    return ok;
}

} // namespace wgfx
