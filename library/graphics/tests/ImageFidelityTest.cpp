// Right colours and whole files: 16-bit PNGs without gamma, CMYK and YCCK
// JPEGs, sizes a format cannot hold, saves that fail without harming the
// old file, and the platform image kept in step with the pixels.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>

#include "GraphicsTestSupport.h"
#include "ImageFiles.h"
#include "Platform.h"
#include "WBitmap.h"
#include "WException.h"
#include "internal/ImageData.h"

using namespace gtest_support;

namespace {

// Files in a folder other than the ones named.
std::vector<std::string> strayFiles(const TempDir& dir, const std::vector<std::string>& known)
{
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path("")))
        if (std::find(known.begin(), known.end(), entry.path().filename().string()) == known.end())
            out.push_back(entry.path().filename().string());
    return out;
}

void expectNear(uint32_t got, uint32_t want, int tolerance)
{
    for (int shift : {16, 8, 0})
        EXPECT_NEAR(int((got >> shift) & 0xFF), int((want >> shift) & 0xFF), tolerance)
            << std::hex << "got " << got << " want " << want;
}

} // namespace

// 16-bit samples keep their high byte: no gamma is applied, with or
// without a gAMA chunk (a 1.0 gamma made 8000/4000/C000 come out BA88E0).
TEST(ImageFidelity, SixteenBitPngWithoutGamma)
{
    struct Case {
        const char* name;
        int colourType;
        std::vector<uint16_t> samples; // one pixel
        bool linearGamma;
        uint32_t argb;
        unsigned long bpp;
    };
    const std::vector<Case> cases = {
        {"rgb", 2, {0x8000, 0x4000, 0xC000}, false, 0xFF8040C0u, 48},
        {"rgb with gamma 1.0", 2, {0x8000, 0x4000, 0xC000}, true, 0xFF8040C0u, 48},
        {"rgba", 6, {0x8000, 0x4000, 0xC000, 0x8000}, true, 0x808040C0u, 64},
        {"grey", 0, {0x8000}, true, 0xFF808080u, 48},
        {"grey alpha", 4, {0x4000, 0xFFFF}, false, 0xFF404040u, 64},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> raw;
        for (int row = 0; row < 2; ++row) {
            raw.push_back(0); // no filter
            for (int x = 0; x < 2; ++x)
                for (uint16_t s : c.samples) {
                    raw.push_back(uint8_t(s >> 8));
                    raw.push_back(uint8_t(s));
                }
        }
        const std::vector<uint8_t> gama
            = c.linearGamma ? std::vector<uint8_t> {0, 1, 0x86, 0xA0} : std::vector<uint8_t> {};
        const std::vector<uint8_t> png = makePng(2, 2, 16, c.colourType, zlibStored(raw), gama);
        wgfx::ImageData out;
        std::string error;
        ASSERT_TRUE(wgfx::decodeImage(png.data(), png.size(), out, error)) << error;
        EXPECT_EQ(out.frames[0][3], c.argb) << std::hex << out.frames[0][3];
        writeFile(dir.path("a.png"), png);
        WBitmap b(dir.path("a.png").c_str());
        EXPECT_EQ(b.getBPP(), c.bpp);
        EXPECT_EQ(b.getPixel(1, 1), ref(c.argb & 0xFFFFFF));
    }
}

// Four-component JPEGs load as RGB: plain CMYK (0 = no ink), Adobe's
// inverted CMYK (255 = no ink), and YCCK, which Adobe files also carry.
TEST(ImageFidelity, CmykAndYcckJpegsAreConverted)
{
    struct Case {
        const char* name;
        J_COLOR_SPACE stored;
        bool adobe;
        std::vector<uint8_t> cmyk;
        uint32_t rgb;
    };
    const std::vector<Case> cases = {
        {"plain cmyk red", JCS_CMYK, false, {0, 255, 255, 0}, 0xFF0000},
        {"plain cmyk half black", JCS_CMYK, false, {0, 0, 0, 128}, 0x7F7F7F},
        {"adobe cmyk red", JCS_CMYK, true, {255, 0, 0, 255}, 0xFF0000},
        {"adobe cmyk with black", JCS_CMYK, true, {255, 255, 128, 128}, 0x808040},
        {"adobe ycck", JCS_YCCK, true, {0x33, 0x66, 0x99, 0xFF}, 0x336699},
        {"adobe ycck with black", JCS_YCCK, true, {0xFF, 0x80, 0x40, 0x80}, 0x804020},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JpegSpec spec;
        spec.components = 4;
        spec.input = JCS_CMYK;
        spec.stored = c.stored;
        spec.adobeMarker = c.adobe;
        spec.pixel = c.cmyk;
        const std::vector<uint8_t> jpeg = makeJpeg(spec);
        ASSERT_FALSE(jpeg.empty());
        writeFile(dir.path("c.jpg"), jpeg);
        WBitmap b(dir.path("c.jpg").c_str());
        EXPECT_EQ(b.getBPP(), 24u);
        expectNear(wplat::rgbFromColorRef(uint32_t(b.getPixel(8, 8))), c.rgb, 4);
    }
}

// Sizes the format cannot hold are refused, not written truncated.
TEST(ImageFidelity, SavesRefuseSizesTheFormatCannotHold)
{
    TempDir dir;
    struct Case {
        const char* file;
        int width;
        bool saved;
    };
    for (const Case& c :
        {Case {"wide.gif", 65536, false}, Case {"widest.gif", 65535, true}, Case {"wide.jpg", 65536, false}}) {
        SCOPED_TRACE(c.file);
        WBitmap b {wplat::PixelImage(c.width, 1, 0x123456)};
        const std::string path = dir.path(c.file);
        if (c.saved) {
            b.save(path.c_str(), 80);
            WBitmap back(path.c_str());
            EXPECT_EQ(back.getWidth(), unsigned(c.width));
        } else {
            EXPECT_EQ(messageOf([&] { b.save(path.c_str(), 80); }), "WBitmapException: Error while saving image!");
            EXPECT_FALSE(std::filesystem::exists(path));
        }
    }
}

// A save that fails at any point leaves the old file as it was and nothing
// beside it; one that succeeds keeps the file's permissions and links.
TEST(ImageFidelity, FailedSaveKeepsTheOldFile)
{
    TempDir dir;
    const std::string target = dir.path("keep.gif");
    WBitmap small {wplat::PixelImage(4, 4, 0x00FF00)};
    small.save(target.c_str(), 0);
    const std::vector<uint8_t> old = readFile(target);
    ASSERT_GT(old.size(), 20u);

    wplat::PixelImage noise(64, 64);
    for (int i = 0; i < 64 * 64; ++i)
        noise.setPixel(i % 64, i / 64, uint32_t(i) * 2654435761u);
    WBitmap big(noise);

    // The file system refuses the bytes half way: a size limit, in a child.
    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {
            uint64_t(old.size() + 10), uint64_t(old.size() + 10)
        };
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            big.save(target.c_str(), 0);
        } catch (const WBitmapException&) {
            _exit(7);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7) << "the save reported success";
    EXPECT_EQ(readFile(target), old);
    EXPECT_EQ(strayFiles(dir, {"keep.gif"}), std::vector<std::string> {});

    // A folder in the way: refused, the folder stays.
    std::filesystem::create_directory(dir.path("folder.gif"));
    EXPECT_EQ(
        messageOf([&] { big.save(dir.path("folder.gif").c_str(), 0); }), "WBitmapException: Error while saving image!");
    EXPECT_TRUE(std::filesystem::is_directory(dir.path("folder.gif")));
    EXPECT_EQ(strayFiles(dir, {"keep.gif", "folder.gif"}), std::vector<std::string> {});

    // Success: permissions stay, a link stays a link to the replaced file.
    chmod(target.c_str(), 0640);
    std::filesystem::create_symlink(target, dir.path("link.gif"));
    big.save(dir.path("link.gif").c_str(), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path("link.gif")));
    EXPECT_NE(readFile(target), old);
    struct stat st { };
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    WBitmap back(target.c_str());
    EXPECT_EQ(back.getWidth(), 64u);
    EXPECT_EQ(strayFiles(dir, {"keep.gif", "folder.gif", "link.gif"}), std::vector<std::string> {});
}

// The platform image and handle follow setPixel and setFrame: redrawn in
// place for a bitmap alone (the handle given out stays valid), made anew
// for one whose copies share them (the copies keep theirs).
TEST(ImageFidelity, PlatformImageFollowsPixelsAndFrames)
{
    TempDir dir;
    writeFile(dir.path("a.gif"),
        makeGif(2, 1, {0xFF0000, 0x00FF00}, {{0, 0, 2, 1, {0, 0}, 10, -1, 1}, {0, 0, 2, 1, {1, 1}, 10, -1, 1}}));
    WBitmap a(dir.path("a.gif").c_str());
    HBITMAP handle = a.getBitmapHandle();
    const wplat::PixelImage* pixels = a.getBitmapImage();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(wplat::getBitmapImage(handle)->pixel(0, 0), 0xFF0000u);

    a.setPixel(1, 0, ref(0x0000FF));
    EXPECT_EQ(a.getBitmapHandle(), handle);
    EXPECT_EQ(a.getBitmapImage(), pixels);
    EXPECT_EQ(wplat::getBitmapImage(handle)->pixel(1, 0), 0x0000FFu);
    EXPECT_EQ(pixels->pixel(1, 0), 0x0000FFu);
    a.setFrame(1);
    EXPECT_EQ(wplat::getBitmapImage(handle)->pixel(0, 0), 0x00FF00u);
    EXPECT_EQ(a.getBitmapImage()->pixel(0, 0), 0x00FF00u);

    // Copies share the caches until one of them changes.
    WBitmap b(a);
    ASSERT_EQ(b.getBitmapHandle(), handle);
    a.setFrame(0);
    EXPECT_EQ(wplat::getBitmapImage(a.getBitmapHandle())->pixel(0, 0), 0xFF0000u);
    EXPECT_EQ(a.getBitmapImage()->pixel(0, 0), 0xFF0000u);
    EXPECT_EQ(wplat::getBitmapImage(b.getBitmapHandle())->pixel(0, 0), 0x00FF00u);
    EXPECT_EQ(b.getBitmapImage()->pixel(0, 0), 0x00FF00u);
    WBitmap c(b);
    c.setPixel(0, 0, ref(0xFFFFFF));
    EXPECT_EQ(c.getBitmapImage()->pixel(0, 0), 0xFFFFFFu);
    EXPECT_EQ(wplat::getBitmapImage(c.getBitmapHandle())->pixel(0, 0), 0xFFFFFFu);
    EXPECT_EQ(b.getBitmapImage()->pixel(0, 0), 0x00FF00u);
    EXPECT_EQ(b.getPixel(0, 0), ref(0x00FF00));
}

// Frames are composed as their disposal says: "none" keeps the frame,
// "background" clears its area to the clear colour, "previous" goes back to
// what was there before it.
TEST(ImageFidelity, GifFramesFollowTheirDisposal)
{
    constexpr uint32_t R = 0xFF0000, G = 0x00FF00, B = 0x0000FF, W = 0xFFFFFF;
    TempDir dir;
    writeFile(dir.path("d.gif"),
        makeGif(4, 1, {R, G, B, W},
            {{0, 0, 4, 1, {0, 0, 0, 0}, 0, 3, 1}, {1, 0, 2, 1, {1, 1}, 0, 3, 3}, {2, 0, 1, 1, {2}, 0, 3, 2},
                {3, 0, 1, 1, {1}, 0, 3, 1}}));
    WBitmap b(dir.path("d.gif").c_str());
    ASSERT_EQ(b.getFrameCount(), 4u);
    const std::vector<std::vector<uint32_t>> expected = {{R, R, R, R}, {R, G, G, R}, {R, R, B, R}, {R, R, W, G}};
    for (unsigned long f = 0; f < 4; ++f) {
        SCOPED_TRACE("frame " + std::to_string(f));
        b.setFrame(f);
        for (unsigned long x = 0; x < 4; ++x)
            EXPECT_EQ(b.getPixel(x, 0), ref(expected[f][x])) << "x " << x;
    }
    // The area "background" cleared is transparent: the key colour shows.
    b.setFrame(3);
    unsigned long key = 0;
    ASSERT_TRUE(b.getColorKey(key));
    EXPECT_EQ(key, ref(W));
}

// Interlaced frames store their rows in four passes; they load in place.
TEST(ImageFidelity, InterlacedGifRowsInPlace)
{
    std::vector<uint32_t> palette;
    for (uint32_t i = 0; i < 8; ++i)
        palette.push_back(i * 0x202020u);
    // Rows 0..9 as the file stores them: every 8th from 0, every 8th from
    // 4, every 4th from 2, every 2nd from 1.
    const std::vector<uint8_t> fileOrder = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
    std::vector<uint8_t> indexes;
    for (uint8_t row : fileOrder)
        indexes.insert(indexes.end(), {uint8_t(row % 8), uint8_t(row % 8)});
    std::vector<uint8_t> gif = makeGif(2, 10, palette, {{0, 0, 2, 10, indexes, 0, -1, 1}});
    // Mark the frame interlaced: the packed byte of its descriptor.
    bool marked = false;
    for (size_t i = 13 + 3 * 8; i + 9 < gif.size() && !marked; ++i)
        if (gif[i] == 0x2C) {
            gif[i + 9] |= 0x40;
            marked = true;
        }
    ASSERT_TRUE(marked);
    wgfx::ImageData out;
    std::string error;
    ASSERT_TRUE(wgfx::decodeImage(gif.data(), gif.size(), out, error)) << error;
    for (int y = 0; y < 10; ++y)
        EXPECT_EQ(out.frames[0][size_t(y) * 2 + 1] & 0xFFFFFF, uint32_t(y % 8) * 0x202020u) << "row " << y;
}
