#pragma once
// Image files made in memory for the graphics tests: BMP headers and
// run-length data, JPEGs written by libjpeg in any colour space and scan
// script, PNGs of hand-made chunks, GIFs with one tiny frame on any screen.
#include <jpeglib.h>

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "GraphicsTestSupport.h"

namespace gtest_support {

inline std::vector<uint8_t> bmpHeader(
    int32_t width, int32_t height, int bpp, uint32_t compression, uint32_t paletteSize)
{
    std::vector<uint8_t> b {'B', 'M'};
    const uint32_t offset = 14 + 40 + paletteSize * 4;
    put32(b, offset);
    put32(b, 0);
    put32(b, offset);
    put32(b, 40);
    put32(b, uint32_t(width));
    put32(b, uint32_t(height));
    put16(b, 1);
    put16(b, uint32_t(bpp));
    put32(b, compression);
    put32(b, 0);
    put32(b, 2835);
    put32(b, 2835);
    put32(b, paletteSize);
    put32(b, 0);
    for (uint32_t i = 0; i < paletteSize; ++i)
        put32(b, i * 0x010101u);
    return b;
}

// An RLE8 bitmap of width x 1 with `runs` runs of 255 pixels and no end of
// line: the column runs far past the row.
inline std::vector<uint8_t> endlessRunBmp(int width, size_t runs)
{
    std::vector<uint8_t> b = bmpHeader(width, 1, 8, 1, 2);
    b.reserve(b.size() + runs * 2 + 2);
    for (size_t i = 0; i < runs; ++i) {
        b.push_back(255);
        b.push_back(1);
    }
    b.push_back(0);
    b.push_back(1);
    return b;
}

// A JPEG written by libjpeg from rows of components (grey, RGB or CMYK).
struct JpegSpec {
    int width = 16;
    int height = 16;
    int components = 3;
    J_COLOR_SPACE input = JCS_RGB;
    J_COLOR_SPACE stored = JCS_UNKNOWN; // JCS_UNKNOWN: libjpeg's default for the input
    bool adobeMarker = true;
    bool progressive = false;
    int refinementScans = 0; // > 0: a progressive script with this many scans per band
    std::vector<uint8_t> pixel {0x80, 0x40, 0xC0};
    bool noise = false; // every sample different, so the data outweighs the tables
};

struct JpegError {
    jpeg_error_mgr base;
    jmp_buf jump;
};

inline std::vector<uint8_t> makeJpeg(const JpegSpec& spec)
{
    jpeg_compress_struct info;
    JpegError err;
    info.err = jpeg_std_error(&err.base);
    err.base.error_exit = [](j_common_ptr c) { longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); };
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    std::vector<uint8_t> row(size_t(spec.width) * size_t(spec.components));
    for (size_t i = 0; i < row.size(); ++i)
        row[i] = spec.pixel[i % size_t(spec.components)];
    std::vector<jpeg_scan_info> script;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&info);
        free(buffer);
        return {};
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &length);
    info.image_width = JDIMENSION(spec.width);
    info.image_height = JDIMENSION(spec.height);
    info.input_components = spec.components;
    info.in_color_space = spec.input;
    jpeg_set_defaults(&info);
    if (spec.stored != JCS_UNKNOWN) jpeg_set_colorspace(&info, spec.stored);
    info.write_Adobe_marker = spec.adobeMarker;
    jpeg_set_quality(&info, 95, TRUE);
    if (spec.progressive) jpeg_simple_progression(&info);
    if (spec.refinementScans > 0) {
        // One component: its DC, then every AC coefficient alone, each
        // refined bit by bit: many valid scans over the whole image.
        const int al = spec.refinementScans - 1;
        script.push_back(jpeg_scan_info {1, {0}, 0, 0, 0, al});
        for (int a = al - 1; a >= 0; --a)
            script.push_back(jpeg_scan_info {1, {0}, 0, 0, a + 1, a});
        for (int k = 1; k < 64; ++k) {
            script.push_back(jpeg_scan_info {1, {0}, k, k, 0, al});
            for (int a = al - 1; a >= 0; --a)
                script.push_back(jpeg_scan_info {1, {0}, k, k, a + 1, a});
        }
        info.scan_info = script.data();
        info.num_scans = int(script.size());
    }
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        if (spec.noise)
            for (size_t i = 0; i < row.size(); ++i)
                row[i] = uint8_t((i * 2654435761u + info.next_scanline * 40503u) >> 7);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<uint8_t> out(buffer, buffer + length);
    free(buffer);
    return out;
}

// Sets the 16-bit width and height of a JPEG's frame header.
inline void setJpegSize(std::vector<uint8_t>& jpeg, int width, int height)
{
    for (size_t i = 2; i + 9 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = uint8_t(height >> 8);
            jpeg[i + 6] = uint8_t(height);
            jpeg[i + 7] = uint8_t(width >> 8);
            jpeg[i + 8] = uint8_t(width);
            return;
        }
}

inline uint32_t crc32(const uint8_t* p, size_t n)
{
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

inline void pngChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    const uint32_t n = uint32_t(data.size()), crc = crc32(body.data(), body.size());
    png.insert(png.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    png.insert(png.end(), body.begin(), body.end());
    png.insert(png.end(), {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
}

// A PNG of its own chunks: header fields given, then the raw IDAT bytes.
inline std::vector<uint8_t> makePng(uint32_t width, uint32_t height, int depth, int colourType,
    const std::vector<uint8_t>& idat, const std::vector<uint8_t>& gama = {})
{
    std::vector<uint8_t> png {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    for (uint32_t v : {width, height})
        ihdr.insert(ihdr.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    ihdr.insert(ihdr.end(), {uint8_t(depth), uint8_t(colourType), 0, 0, 0});
    pngChunk(png, "IHDR", ihdr);
    if (!gama.empty()) pngChunk(png, "gAMA", gama);
    pngChunk(png, "IDAT", idat);
    pngChunk(png, "IEND", {});
    return png;
}

// zlib's stored (uncompressed) form of raw.
inline std::vector<uint8_t> zlibStored(const std::vector<uint8_t>& raw)
{
    std::vector<uint8_t> z {0x78, 0x01};
    size_t pos = 0;
    do {
        const size_t n = std::min<size_t>(raw.size() - pos, 65535);
        const bool last = pos + n == raw.size();
        z.insert(z.end(), {uint8_t(last ? 1 : 0), uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
        z.insert(z.end(), raw.begin() + long(pos), raw.begin() + long(pos + n));
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    const uint32_t adler = (b << 16) | a;
    z.insert(z.end(), {uint8_t(adler >> 24), uint8_t(adler >> 16), uint8_t(adler >> 8), uint8_t(adler)});
    return z;
}

// A GIF of one small frame, repeated, on a screen of any size.
inline std::vector<uint8_t> tinyFrameGif(int screenWidth, int screenHeight, int frames = 1)
{
    std::vector<uint8_t> gif = makeGif(screenWidth, screenHeight, {0xFF0000, 0x00FF00}, {{0, 0, 1, 1, {1}, 5, -1, 1}});
    // Header, screen and colour table take 13 + 6 bytes; the frame's records
    // run up to the trailer.
    const std::vector<uint8_t> frame(gif.begin() + 19, gif.end() - 1);
    gif.resize(19);
    for (int i = 0; i < frames; ++i)
        gif.insert(gif.end(), frame.begin(), frame.end());
    gif.push_back(0x3B);
    return gif;
}

// Sets a GIF's first image descriptor's width and height.
inline void setGifFrameSize(std::vector<uint8_t>& gif, int width, int height)
{
    for (size_t i = 13; i + 9 < gif.size(); ++i)
        if (gif[i] == 0x2C) {
            gif[i + 5] = uint8_t(width);
            gif[i + 6] = uint8_t(width >> 8);
            gif[i + 7] = uint8_t(height);
            gif[i + 8] = uint8_t(height >> 8);
            return;
        }
}

} // namespace gtest_support
