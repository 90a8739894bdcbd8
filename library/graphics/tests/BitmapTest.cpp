// Bitmaps: loading every supported format, frames and delays, colour keys,
// saving as JPEG and GIF, pixels, palettes, drawing and repository members.
#include <gtest/gtest.h>

#include <png.h>

#include <functional>

#include "GraphicsTestSupport.h"
#include "Platform.h"
#include "WBitmap.h"
#include "WException.h"
#include "WRepository.h"
#include "internal/ImageData.h"

using namespace gtest_support;

namespace {

constexpr uint32_t RED = 0xFF0000, GREEN = 0x00FF00, BLUE = 0x0000FF, WHITE = 0xFFFFFF;

// Three 4x2 frames over palette {red, green, blue, white}; index 3 is clear
// in every frame. Delays 10, 20 and 0 hundredths.
std::vector<uint8_t> threeFrameGif()
{
    std::vector<GifFrame> frames = {
        {0, 0, 4, 2, {0, 0, 1, 1, 2, 2, 3, 3}, 10, 3, 1},
        {0, 0, 4, 2, {1, 1, 1, 1, 3, 3, 3, 3}, 20, 3, 1},
        {1, 0, 2, 1, {2, 2}, 0, 3, 1},
    };
    return makeGif(4, 2, {RED, GREEN, BLUE, WHITE}, frames);
}

// The first value of the first quantisation table of a JPEG file.
int firstQuantValue(const std::vector<uint8_t>& jpeg)
{
    for (size_t i = 2; i + 5 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDB) return jpeg[i + 5];
    return -1;
}

} // namespace

TEST(Bitmap, GifFramesDelaysAndKey)
{
    TempDir dir;
    writeFile(dir.path("a.gif"), threeFrameGif());
    WBitmap b(dir.path("a.gif").c_str());
    EXPECT_EQ(b.getWidth(), 4u);
    EXPECT_EQ(b.getHeight(), 2u);
    EXPECT_EQ(b.getBPP(), 8u);
    EXPECT_EQ(b.getFrameCount(), 3u);
    EXPECT_EQ(b.getFrameDelay(), 100u);
    EXPECT_EQ(b.getPixel(0, 0), ref(RED));
    EXPECT_EQ(b.getPixel(2, 0), ref(GREEN));
    b.setFrame(1);
    EXPECT_EQ(b.getFrameDelay(), 200u);
    EXPECT_EQ(b.getPixel(0, 0), ref(GREEN));
    // Clear pixels of frame 1 keep what frame 0 left (disposal 1).
    EXPECT_EQ(b.getPixel(0, 1), ref(BLUE));
    b.setFrame(2);
    EXPECT_EQ(b.getFrameDelay(), 0u);
    EXPECT_EQ(b.getPixel(1, 0), ref(BLUE));
    EXPECT_EQ(b.getPixel(0, 0), ref(GREEN));
    b.setFrame(3);
    EXPECT_EQ(b.getFrameIdx(), 2u);

    unsigned long key = 0;
    ASSERT_TRUE(b.getColorKey(key));
    EXPECT_EQ(key, ref(WHITE));
    // The platform bitmap shows clear pixels in the key colour.
    b.setFrame(0);
    WBitmap fresh(dir.path("a.gif").c_str());
    const wplat::PixelImage* pixels = fresh.getBitmapImage();
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels->pixel(3, 1), WHITE);
    EXPECT_EQ(pixels->pixel(0, 1), BLUE);
    EXPECT_EQ(fresh.getBitmapImage(), pixels); // cached

    WPalette palette;
    b.getPalette(palette);
    EXPECT_EQ(palette.getColorCount(), 4u);
    EXPECT_EQ(palette.getBPP(), 8u);
    RGBQUAD q {};
    palette.getColor(2, q);
    EXPECT_EQ(q.rgbBlue, 0xFF);
    EXPECT_EQ(q.rgbRed, 0);
}

TEST(Bitmap, PngHasOneFrameNoDelayAndPaletteKeys)
{
    TempDir dir;
    wgfx::ImageData img;
    img.width = 3;
    img.height = 1;
    img.frames = {{0xFF112233u, 0x80FF0000u, 0x00000000u}};
    std::vector<uint8_t> png;
    ASSERT_TRUE(wgfx::encodePng(img, 0, png));
    writeFile(dir.path("a.png"), png);
    WBitmap b(dir.path("a.png").c_str());
    EXPECT_EQ(b.getFrameCount(), 1u);
    EXPECT_EQ(b.getFrameDelay(), 0u);
    EXPECT_EQ(b.getBPP(), 32u);
    EXPECT_EQ(b.getPixel(0, 0), ref(0x112233));
    EXPECT_FALSE(b.isColorKey());

    // A palette PNG with two clear entries: the last one is the key.
    png_image pi;
    std::memset(&pi, 0, sizeof pi);
    pi.version = PNG_IMAGE_VERSION;
    pi.width = 2;
    pi.height = 1;
    pi.format = PNG_FORMAT_RGBA | PNG_FORMAT_FLAG_COLORMAP;
    pi.colormap_entries = 3;
    uint8_t map[] = {0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF};
    uint8_t indexes[] = {2, 1};
    png_alloc_size_t length = 0;
    ASSERT_TRUE(png_image_write_to_memory(&pi, nullptr, &length, 0, indexes, 0, map));
    std::vector<uint8_t> bytes(length);
    ASSERT_TRUE(png_image_write_to_memory(&pi, bytes.data(), &length, 0, indexes, 0, map));
    writeFile(dir.path("p.png"), bytes);
    WBitmap p(dir.path("p.png").c_str());
    unsigned long key = 0;
    ASSERT_TRUE(p.getColorKey(key));
    EXPECT_EQ(key, 0x0000FF00u);
    EXPECT_EQ(p.getBitmapImage()->pixel(1, 0), GREEN);
    EXPECT_EQ(p.getBitmapImage()->pixel(0, 0), BLUE);
}

TEST(Bitmap, BmpVariants)
{
    TempDir dir;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        unsigned long bpp;
    };
    // 2x2: top row red, green; bottom row blue, white.
    std::vector<Case> cases = {
        {"24", makeBmp(2, 2, 24, 0, {}, {}, {{0, 0, 0xFF, 0, 0xFF, 0}, {0xFF, 0, 0, 0xFF, 0xFF, 0xFF}}), 24},
        {"24td", makeBmp(2, 2, 24, 0, {}, {}, {{0, 0, 0xFF, 0, 0xFF, 0}, {0xFF, 0, 0, 0xFF, 0xFF, 0xFF}}, true), 24},
        {"8", makeBmp(2, 2, 8, 0, {RED, GREEN, BLUE, WHITE}, {}, {{0, 1}, {2, 3}}), 8},
        {"4", makeBmp(2, 2, 4, 0, {RED, GREEN, BLUE, WHITE}, {}, {{0x01}, {0x23}}), 4},
        {"565",
            makeBmp(2, 2, 16, 3, {}, {0xF800, 0x07E0, 0x001F}, {{0x00, 0xF8, 0xE0, 0x07}, {0x1F, 0x00, 0xFF, 0xFF}}),
            16},
        {"32", makeBmp(2, 2, 32, 0, {}, {}, {{0, 0, 0xFF, 0, 0, 0xFF, 0, 0}, {0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0}}),
            32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.path((std::string(c.name) + ".bmp").c_str());
        writeFile(path, c.bytes);
        WBitmap b(path.c_str());
        EXPECT_EQ(b.getBPP(), c.bpp);
        EXPECT_EQ(b.getPixel(0, 0), ref(RED));
        EXPECT_EQ(b.getPixel(1, 0), ref(GREEN));
        EXPECT_EQ(b.getPixel(0, 1), ref(BLUE));
        EXPECT_EQ(b.getPixel(1, 1), ref(WHITE));
    }
    // A truncated file is refused, not read past its end.
    const std::vector<uint8_t> cut(cases[0].bytes.begin(), cases[0].bytes.end() - 4);
    writeFile(dir.path("cut.bmp"), cut);
    EXPECT_EQ(messageOf([&] { WBitmap b(dir.path("cut.bmp").c_str()); }),
        "WBitmapException: Cannot load bitmap: " + dir.path("cut.bmp"));
}

TEST(Bitmap, LoadErrors)
{
    TempDir dir;
    writeFile(dir.path("junk.gif"), {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
    WBitmap b;
    EXPECT_EQ(messageOf([&] { b.open(dir.path("junk.gif").c_str()); }),
        "WBitmapException: Cannot load bitmap: " + dir.path("junk.gif"));
    EXPECT_EQ(b.getFilename(), dir.path("junk.gif").c_str());
    EXPECT_EQ(b.getWidth(), 0u);
    EXPECT_EQ(b.getPixel(0, 0), 0u);
    EXPECT_EQ(messageOf([&] { b.open(dir.path("missing.png").c_str()); }),
        "WBitmapException: Cannot load bitmap: " + dir.path("missing.png"));
}

TEST(Bitmap, SaveJpegQualityAndRefusedFormats)
{
    TempDir dir;
    wplat::PixelImage pixels(16, 16, 0x336699);
    WBitmap b(pixels);
    b.save(dir.path("q80.JPG").c_str(), 80);
    EXPECT_EQ(firstQuantValue(readFile(dir.path("q80.JPG"))), 6);
    b.save(dir.path("q50.jpg").c_str(), 50);
    EXPECT_EQ(firstQuantValue(readFile(dir.path("q50.jpg"))), 16);
    WBitmap back(dir.path("q80.JPG").c_str());
    EXPECT_EQ(back.getBPP(), 24u);
    EXPECT_EQ(back.getFrameCount(), 1u);
    EXPECT_NEAR(int(back.getPixel(8, 8) & 0xFF), 0x33, 3);

    for (const char* name : {"x.png", "x.jpeg", "x"}) {
        EXPECT_EQ(messageOf([&] { b.save(dir.path(name).c_str(), 80); }),
            "WBitmapException: Bitmap format is not supported for saving!");
        EXPECT_FALSE(std::filesystem::exists(dir.path(name)));
    }
    // Saving nothing keeps the old file.
    WBitmap empty;
    EXPECT_EQ(
        messageOf([&] { empty.save(dir.path("q80.JPG").c_str(), 80); }), "WBitmapException: Error while saving image!");
    EXPECT_EQ(firstQuantValue(readFile(dir.path("q80.JPG"))), 6);
}

TEST(Bitmap, GifRoundTripIsExact)
{
    TempDir dir;
    // 300 colours force a quantised palette; 20 colours stay exact.
    wplat::PixelImage few(5, 4);
    for (int i = 0; i < 20; ++i)
        few.setPixel(i % 5, i / 5, uint32_t(i) * 0x0A0B0C);
    WBitmap b(few);
    b.save(dir.path("few.gif").c_str(), 0);
    WBitmap back(dir.path("few.gif").c_str());
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(back.getPixel(unsigned(i % 5), unsigned(i / 5)), ref(uint32_t(i) * 0x0A0B0C));
    EXPECT_FALSE(back.isColorKey());

    // Transparency and the key colour survive a GIF round trip.
    writeFile(dir.path("a.gif"), threeFrameGif());
    WBitmap keyed(dir.path("a.gif").c_str());
    keyed.save(dir.path("b.gif").c_str(), 0);
    WBitmap again(dir.path("b.gif").c_str());
    unsigned long key = 0;
    ASSERT_TRUE(again.getColorKey(key));
    EXPECT_EQ(key, ref(WHITE));
    EXPECT_EQ(again.getBitmapImage()->pixel(3, 1), WHITE);
    EXPECT_EQ(again.getPixel(0, 0), ref(RED));

    wplat::PixelImage many(30, 10);
    for (int i = 0; i < 300; ++i)
        many.setPixel(i % 30, i / 30, uint32_t(i) * 0x010203);
    WBitmap m(many);
    m.save(dir.path("many.gif").c_str(), 0);
    WBitmap mb(dir.path("many.gif").c_str());
    EXPECT_EQ(mb.getWidth(), 30u);
    EXPECT_EQ(mb.getBPP(), 8u);
}

TEST(Bitmap, PixelsCopiesAndResample)
{
    wplat::PixelImage pixels(4, 4, 0x000000);
    WBitmap a(pixels);
    a.setPixel(1, 2, ref(0x123456));
    EXPECT_EQ(a.getPixel(1, 2), ref(0x123456));
    EXPECT_EQ(a.getPixel(4, 0), 0u);
    WBitmap b(a);
    b.setPixel(1, 2, ref(WHITE));
    EXPECT_EQ(a.getPixel(1, 2), ref(0x123456)); // the copy detached
    EXPECT_EQ(b.getPixel(1, 2), ref(WHITE));
    b.resample(8, 2);
    EXPECT_EQ(b.getWidth(), 8u);
    EXPECT_EQ(b.getHeight(), 2u);
    EXPECT_EQ(a.getWidth(), 4u);
    WPalette none;
    a.getPalette(none); // no palette: left untouched
    EXPECT_EQ(none.getColorCount(), 0u);
}

TEST(Bitmap, PlatformBitmapHandles)
{
    wplat::PixelImage pixels(3, 2, 0x102030);
    pixels.setPixel(2, 1, 0xFFFFFF);
    WBitmap a(pixels);
    HBITMAP handle = a.getBitmapHandle();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(static_cast<HBITMAP>(a), handle); // cached
    ASSERT_NE(wplat::getBitmapImage(handle), nullptr);
    EXPECT_EQ(wplat::getBitmapImage(handle)->pixel(2, 1), 0xFFFFFFu);
    WBitmap b(handle, nullptr);
    EXPECT_EQ(b.getWidth(), 3u);
    EXPECT_EQ(b.getBPP(), 32u);
    EXPECT_EQ(b.getPixel(0, 0), ref(0x102030));
    WBitmap empty;
    EXPECT_EQ(empty.getBitmapHandle(), nullptr);
    EXPECT_EQ(messageOf([&] { empty.create(nullptr, nullptr); }), "WBitmapException: Cannot create bitmap.");
}

TEST(Bitmap, DrawingOntoImages)
{
    wplat::PixelImage src(2, 2);
    src.setPixel(0, 0, RED);
    src.setPixel(1, 0, GREEN);
    src.setPixel(0, 1, BLUE);
    src.setPixel(1, 1, WHITE);
    WBitmap b(src);
    wplat::PixelImage target(6, 6, 0x010101);
    b.toDevice(target, 2, 3);
    EXPECT_EQ(target.pixel(2, 3), RED);
    EXPECT_EQ(target.pixel(3, 4), WHITE);
    EXPECT_EQ(target.pixel(1, 3), 0x010101u);
    EXPECT_EQ(target.pixel(4, 3), 0x010101u);

    // Parallelogram: a quarter turn clockwise, nearest neighbour.
    wplat::PixelImage turned(2, 2, 0);
    POINT p[3] = {{2, 0}, {2, 2}, {0, 0}};
    b.toDevice(turned, p, 3, false);
    EXPECT_EQ(turned.pixel(1, 0), RED);
    EXPECT_EQ(turned.pixel(1, 1), GREEN);
    EXPECT_EQ(turned.pixel(0, 0), BLUE);
    EXPECT_EQ(turned.pixel(0, 1), WHITE);

    wplat::PixelImage untouched(4, 4, 0x010101);
    b.toDevice(untouched, p, 2, false);
    b.toDevice(untouched, p, 5, false);
    EXPECT_TRUE(untouched.sameAs(wplat::PixelImage(4, 4, 0x010101)));

    // Stretched 2x into an 4x4 area: blocks of one colour at the corners.
    wplat::PixelImage big(4, 4, 0);
    b.toDevice(big, RECT {0, 0, 2, 2}, RECT {0, 0, 4, 4});
    EXPECT_EQ(big.pixel(0, 0), RED);
    EXPECT_EQ(big.pixel(3, 3), WHITE);
}

TEST(Bitmap, RepositoryMembers)
{
    TempDir dir;
    writeFile(dir.path("img.gif"), threeFrameGif());
    std::string repo = dir.path("data");
    {
        WRepository r;
        r.create(repo.c_str());
        r.addFile(dir.path("img.gif").c_str(), "img.gif");
        r.close();
    }
    WBitmap b((("$" + repo + ":img.gif")).c_str());
    EXPECT_EQ(b.getFrameCount(), 3u);
    EXPECT_EQ(b.getPixel(0, 0), ref(RED));
    std::string missing = messageOf([&] { WBitmap m(("$" + repo + ":none.gif").c_str()); });
    EXPECT_EQ(missing.find("WBitmapException"), std::string::npos) << missing;
    EXPECT_NE(missing, "no exception");
}

TEST(Palette, Rules)
{
    WPalette p;
    EXPECT_EQ(messageOf([&] { p.create(257, 8); }), "WPaletteException: To many colors.");
    EXPECT_EQ(messageOf([&] { p.create(16, 9); }), "WPaletteException: Invalid color deept.");
    EXPECT_EQ(p.getBPP(), 9u);
    p.create(256, 8);
    EXPECT_EQ(p.getColorCount(), 256u);
    RGBQUAD c {1, 2, 3, 0};
    p.getColor(255, c);
    EXPECT_EQ(c.rgbRed, 0);
    EXPECT_EQ(messageOf([&] { p.setColor(256, c); }), "WPaletteException: Invalid palette index.");
    p.setColor(5, RGBQUAD {10, 20, 30, 0});
    WPalette copy(p);
    RGBQUAD out {};
    copy.getColor(5, out);
    EXPECT_EQ(out.rgbBlue, 10);
    EXPECT_EQ(out.rgbRed, 30);
    EXPECT_EQ(static_cast<PALETTEENTRY*>(copy)[5].peRed, 30);
    WPalette small;
    small.create(256, 1); // depth is not checked against the count
    EXPECT_EQ(small.getColorCount(), 256u);
}

// Positions at the ends of the coordinate range draw only what falls on the
// target and compute nothing that wraps (the sanitizer pass checks that).
TEST(Bitmap, DrawingAtTheEndsOfTheCoordinateRange)
{
    WBitmap b {wplat::PixelImage(3, 3, 0xFFFFFF)};
    const wplat::PixelImage blank(8, 8, 0x010101);
    constexpr int32_t lo = INT32_MIN, hi = INT32_MAX;
    struct Case {
        const char* name;
        std::function<void(wplat::PixelImage&)> draw;
        bool visible;
    };
    const std::vector<Case> cases = {
        {"at the right end", [&](wplat::PixelImage& t) { b.toDevice(t, hi, 0); }, false},
        {"at the bottom end", [&](wplat::PixelImage& t) { b.toDevice(t, 0, hi - 1); }, false},
        {"at the top left end", [&](wplat::PixelImage& t) { b.toDevice(t, lo, lo); }, false},
        {"scaled at the far end",
            [&](wplat::PixelImage& t) {
                b.toDevice(t, RECT {0, 0, 3, 3}, RECT {hi - 2, hi - 2, hi, hi});
            },
            false},
        {"scaled over the whole range",
            [&](wplat::PixelImage& t) {
                b.toDevice(t, RECT {0, 0, 3, 3}, RECT {lo, lo, hi, hi});
            },
            true},
        {"parallelogram far away",
            [&](wplat::PixelImage& t) {
                POINT p[3] = {{hi - 5, hi - 5}, {hi, hi - 5}, {hi - 5, hi}};
                b.toDevice(t, p, 3, true);
            },
            false},
        {"parallelogram over the whole range",
            [&](wplat::PixelImage& t) {
                POINT p[3] = {{lo, lo}, {hi, lo}, {lo, hi}};
                b.toDevice(t, p, 3, false);
            },
            true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wplat::PixelImage target = blank;
        c.draw(target);
        EXPECT_EQ(!target.sameAs(blank), c.visible);
    }
}
