// Images from strangers: crafted files that once crashed, ate memory or
// hung the decoders, the allocation limit, and a bounded mutation pass over
// every format. Every input here is generated; none is stored.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <random>

#include "GraphicsTestSupport.h"
#include "ImageFiles.h"
#include "WBitmap.h"
#include "WException.h"
#include "WRepository.h"
#include "internal/ImageData.h"

using namespace gtest_support;

namespace {

using Clock = std::chrono::steady_clock;

// Restores the library's allocation limit when a test ends.
struct LimitGuard {
    uint64_t saved = WBitmap::getAllocationLimit();
    ~LimitGuard() { WBitmap::setAllocationLimit(saved); }
};

bool decode(const std::vector<uint8_t>& bytes, wgfx::ImageData& out, std::string& error)
{
    return wgfx::decodeImage(bytes.data(), bytes.size(), out, error);
}

double secondsFor(const std::function<void()>& work)
{
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The peak resident memory of a child that runs work, in MB.
long childPeakMegabytes(const std::function<void()>& work)
{
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        work();
        struct rusage usage { };
        getrusage(RUSAGE_SELF, &usage);
        const long megabytes = usage.ru_maxrss / 1024;
        if (write(fds[1], &megabytes, sizeof megabytes) != sizeof megabytes) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    long megabytes = -1;
    if (read(fds[0], &megabytes, sizeof megabytes) != sizeof megabytes) megabytes = -1;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return megabytes;
}

} // namespace

// The crafted files of the report: each is refused or decoded small, fast,
// and without touching memory outside its buffers.
TEST(ImageSafety, CraftedFilesAreRefusedOrHarmless)
{
    struct Case {
        const char* name;
        std::function<std::vector<uint8_t>()> make;
        bool accepted;
    };
    const std::vector<Case> cases = {
        // The column of a run that never ends its line used to wrap past
        // 2^31 and write gigabytes before the pixels.
        {"rle8 endless run", [] { return endlessRunBmp(4, 8'500'000); }, true},
        {"rle8 deltas far right",
            [] {
                std::vector<uint8_t> b = bmpHeader(4, 2, 8, 1, 2);
                for (int i = 0; i < 100000; ++i)
                    b.insert(b.end(), {0, 2, 255, 0});
                b.insert(b.end(), {3, 1, 0, 1});
                return b;
            },
            true},
        {"bmp 1 GiB claim in 54 bytes", [] { return bmpHeader(16384, 16384, 32, 0, 0); }, false},
        {"bmp 16384 wide, few pixels",
            [] {
                std::vector<uint8_t> b = bmpHeader(16384, -4096, 24, 0, 0);
                b.resize(b.size() + 64);
                return b;
            },
            false},
        {"png 16384 square claim", [] { return makePng(16384, 16384, 8, 6, zlibStored(std::vector<uint8_t>(64))); },
            false},
        {"png 8000 square claim, no data",
            [] {
                return makePng(8000, 8000, 8, 2, zlibStored({0, 1, 2}));
            },
            false},
        {"jpeg 16384 square claim",
            [] {
                std::vector<uint8_t> j = makeJpeg(JpegSpec {});
                setJpegSize(j, 16384, 16384);
                return j;
            },
            false},
        {"jpeg 8000 square claim",
            [] {
                std::vector<uint8_t> j = makeJpeg(JpegSpec {});
                setJpegSize(j, 8000, 8000);
                return j;
            },
            false},
        {"jpeg cut short",
            [] {
                JpegSpec s;
                s.width = s.height = 256;
                std::vector<uint8_t> j = makeJpeg(s);
                j.resize(j.size() / 2);
                return j;
            },
            false},
        {"gif 16384 square screen", [] { return tinyFrameGif(16384, 16384); }, false},
        // A frame of 65535 x 32767 on a small screen: giflib's slurp made
        // its 2 GiB raster before the screen was looked at.
        {"gif giant frame",
            [] {
                std::vector<uint8_t> g = tinyFrameGif(16, 16);
                setGifFrameSize(g, 65535, 32767);
                return g;
            },
            false},
        // Frames are counted: each costs a canvas however small it is.
        {"gif 20000 frames", [] { return tinyFrameGif(16, 16, 20000); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = c.make();
        ASSERT_FALSE(bytes.empty());
        wgfx::ImageData out;
        std::string error;
        bool ok = false;
        const double seconds = secondsFor([&] { ok = decode(bytes, out, error); });
        EXPECT_EQ(ok, c.accepted) << error;
        EXPECT_LT(seconds, 1.0);
        if (ok) {
            ASSERT_FALSE(out.frames.empty());
            for (const auto& frame : out.frames)
                EXPECT_EQ(frame.size(), size_t(out.width) * size_t(out.height));
        } else {
            EXPECT_TRUE(out.frames.empty());
        }
    }
}

// Files whose header claims an image just under the limit (244 MB of
// pixels) but hold no data for it are refused before the pixels are
// allocated: the decoding process stays small.
TEST(ImageSafety, NoLargeAllocationBeforeTheDataIsChecked)
{
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
        {"bmp", bmpHeader(8000, 8000, 24, 0, 0)},
        {"png", makePng(8000, 8000, 8, 2, zlibStored({0, 1, 2}))},
        {"jpeg",
            [] {
                std::vector<uint8_t> j = makeJpeg(JpegSpec {});
                setJpegSize(j, 8000, 8000);
                return j;
            }()},
    };
    const long baseline = childPeakMegabytes([] {});
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t>& file = bytes;
        const long peak = childPeakMegabytes([&file] {
            wgfx::ImageData out;
            std::string error;
            if (decode(file, out, error)) _exit(3);
        });
        ASSERT_GT(peak, 0);
        EXPECT_LT(peak - baseline, 64) << "MB used to refuse the file";
    }
}

// The limit covers frames x width x height x 4 bytes in every format: an
// image exactly at the limit loads, one byte less refuses it.
TEST(ImageSafety, AllocationLimitIsExactForEveryFormat)
{
    LimitGuard guard;
    EXPECT_EQ(WBitmap::getAllocationLimit(), 256ull * 1024 * 1024);
    wgfx::ImageData img;
    img.width = 40;
    img.height = 30;
    img.frames.assign(1, std::vector<uint32_t>(1200, 0xFF336699u));
    std::vector<uint8_t> png, jpeg, gif;
    ASSERT_TRUE(wgfx::encodePng(img, 0, png));
    ASSERT_TRUE(wgfx::encodeJpeg(img, 0, 90, jpeg));
    ASSERT_TRUE(wgfx::encodeGif(img, 0, gif));
    std::vector<std::vector<uint8_t>> rows(30, std::vector<uint8_t>(120, 0x55));
    const std::vector<uint8_t> bmp = makeBmp(40, 30, 24, 0, {}, {}, rows);
    const std::vector<uint8_t> threeFrames = makeGif(40, 30, {0xFF0000, 0x00FF00},
        {{0, 0, 1, 1, {0}, 1, -1, 1}, {0, 0, 1, 1, {1}, 1, -1, 1}, {0, 0, 1, 1, {0}, 1, -1, 1}});
    struct Case {
        const char* name;
        const std::vector<uint8_t>& bytes;
        uint64_t frames;
    };
    for (const Case& c : {Case {"png", png, 1}, Case {"jpeg", jpeg, 1}, Case {"gif", gif, 1}, Case {"bmp", bmp, 1},
             Case {"gif 3 frames", threeFrames, 3}}) {
        SCOPED_TRACE(c.name);
        const uint64_t need = c.frames * 40 * 30 * 4;
        wgfx::ImageData out;
        std::string error;
        WBitmap::setAllocationLimit(need);
        EXPECT_TRUE(decode(c.bytes, out, error)) << error;
        WBitmap::setAllocationLimit(need - 1);
        EXPECT_FALSE(decode(c.bytes, out, error));
        EXPECT_TRUE(out.frames.empty());
    }
    // Through the bitmap: the library's exception, never another.
    TempDir dir;
    writeFile(dir.path("a.png"), png);
    WBitmap::setAllocationLimit(1000);
    try {
        WBitmap b(dir.path("a.png").c_str());
        FAIL() << "loaded beyond the limit";
    } catch (const WBitmapException& e) {
        EXPECT_EQ(std::string(e.getMessage().getBuf()), "Cannot load bitmap: " + dir.path("a.png"));
    }
}

// A progressive file with hundreds of valid scans stops at the scan bound
// (which shrinks with the allocation limit) instead of walking the image
// once per scan; a normal progressive file loads.
TEST(ImageSafety, ProgressiveScansAreBounded)
{
    LimitGuard guard;
    JpegSpec normal;
    normal.width = normal.height = 64;
    normal.progressive = true;
    const std::vector<uint8_t> ten = makeJpeg(normal);
    wgfx::ImageData out;
    std::string error;
    ASSERT_TRUE(decode(ten, out, error)) << error;
    EXPECT_EQ(out.width, 64);

    JpegSpec many;
    many.width = many.height = 256;
    many.components = 1;
    many.input = JCS_GRAYSCALE;
    many.pixel = {0x80};
    many.refinementScans = 11; // 64 bands x 11 = 704 scans
    const std::vector<uint8_t> bomb = makeJpeg(many);
    ASSERT_FALSE(bomb.empty());
    // 1024 blocks per scan, 720,896 in all: a limit of 1 MB allows 2^17 block
    // visits, one of 8 MB 2^20.
    WBitmap::setAllocationLimit(1 << 20);
    EXPECT_FALSE(decode(bomb, out, error));
    EXPECT_EQ(error, "JPEG has too many scans");
    WBitmap::setAllocationLimit(8 << 20);
    EXPECT_TRUE(decode(bomb, out, error)) << error;
}

// Random damage to valid files of every format: each result is a clean
// refusal or a consistent image. Bounded in count; the sanitizer pass runs
// it too.
TEST(ImageSafety, MutatedFilesNeverBreakTheDecoders)
{
    LimitGuard guard;
    WBitmap::setAllocationLimit(16 << 20);
    wgfx::ImageData img;
    img.width = 23;
    img.height = 17;
    img.frames.assign(1, std::vector<uint32_t>(23 * 17));
    for (size_t i = 0; i < img.frames[0].size(); ++i)
        img.frames[0][i] = 0xFF000000u | uint32_t(i * 0x0A0705u);
    std::vector<uint8_t> png, jpeg, gif;
    wgfx::encodePng(img, 0, png);
    wgfx::encodeJpeg(img, 0, 80, jpeg);
    wgfx::encodeGif(img, 0, gif);
    JpegSpec progressive;
    progressive.progressive = true;
    JpegSpec cmyk;
    cmyk.components = 4;
    cmyk.input = JCS_CMYK;
    cmyk.pixel = {10, 200, 30, 40};
    std::vector<std::vector<uint8_t>> rows(5, std::vector<uint8_t> {1, 2, 3, 4});
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> seeds = {
        {"png", png},
        {"jpeg", jpeg},
        {"progressive jpeg", makeJpeg(progressive)},
        {"cmyk jpeg", makeJpeg(cmyk)},
        {"gif", gif},
        {"animated gif",
            makeGif(6, 4, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF},
                {{0, 0, 6, 4, std::vector<uint8_t>(24, 1), 10, 3, 2}, {2, 1, 3, 2, {0, 3, 2, 3, 0, 1}, 10, 3, 3},
                    {1, 1, 2, 2, {2, 2, 2, 2}, 0, -1, 1}})},
        {"bmp 8", makeBmp(7, 5, 8, 0, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}, {}, rows)},
        {"bmp rle8",
            [] {
                std::vector<uint8_t> b = bmpHeader(8, 4, 8, 1, 4);
                b.insert(b.end(), {4, 1, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 2, 3, 0, 0, 0, 1});
                return b;
            }()},
        {"bmp 16 bitfields",
            makeBmp(3, 2, 16, 3, {}, {0xF800, 0x07E0, 0x001F}, {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}})},
    };
    std::mt19937 random(20261209);
    const auto start = Clock::now();
    for (const auto& [name, seed] : seeds) {
        SCOPED_TRACE(name);
        ASSERT_FALSE(seed.empty());
        for (int round = 0; round < 2500; ++round) {
            std::vector<uint8_t> bytes = seed;
            const int edits = 1 + int(random() % 4);
            for (int e = 0; e < edits; ++e) {
                const size_t at = random() % bytes.size();
                switch (random() % 5) {
                case 0:
                    bytes[at] ^= uint8_t(1u << (random() % 8));
                    break;
                case 1:
                    bytes[at] = uint8_t(random());
                    break;
                case 2:
                    bytes[at] = (random() & 1) ? 0xFF : 0x00;
                    break; // sizes and counts at their extremes
                case 3:
                    bytes.resize(std::max<size_t>(at, 1));
                    break;
                default:
                    bytes.insert(bytes.begin() + long(at), uint8_t(random()));
                    break;
                }
            }
            wgfx::ImageData out;
            std::string error;
            if (decode(bytes, out, error)) {
                ASSERT_FALSE(out.frames.empty());
                ASSERT_GT(out.width, 0);
                ASSERT_GT(out.height, 0);
                ASSERT_EQ(out.delays.empty() ? out.frames.size() : out.delays.size(), out.frames.size());
                for (const auto& frame : out.frames)
                    ASSERT_EQ(frame.size(), size_t(out.width) * size_t(out.height));
            } else {
                ASSERT_TRUE(out.frames.empty());
            }
        }
    }
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 20.0);
}

// Data that runs out before the last row is refused; a file that only
// lacks its end marker loads.
TEST(ImageSafety, JpegCutShortOrWithoutEndMarker)
{
    JpegSpec spec;
    spec.width = spec.height = 64;
    spec.noise = true;
    std::vector<uint8_t> jpeg = makeJpeg(spec);
    ASSERT_GE(jpeg.size(), 4u);
    wgfx::ImageData out;
    std::string error;
    const std::vector<uint8_t> noEnd(jpeg.begin(), jpeg.end() - 2);
    EXPECT_TRUE(decode(noEnd, out, error)) << error;
    const std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + long(jpeg.size() * 2 / 3));
    EXPECT_FALSE(decode(cut, out, error));
    EXPECT_EQ(error, "JPEG data truncated");
}

// The run-length file whose column wrapped, loaded as a bitmap from a file
// and from a repository member: the bitmap's width, no crash.
TEST(ImageSafety, EndlessRunThroughFilesAndRepositories)
{
    TempDir dir;
    writeFile(dir.path("runs.bmp"), endlessRunBmp(4, 8'500'000));
    const std::string repository = dir.path("data");
    {
        WRepository r;
        r.create(repository.c_str());
        r.addFile(dir.path("runs.bmp").c_str(), "runs.bmp");
        r.close();
    }
    for (const std::string& name : {dir.path("runs.bmp"), "$" + repository + ":runs.bmp"}) {
        SCOPED_TRACE(name);
        WBitmap b(name.c_str());
        EXPECT_EQ(b.getWidth(), 4u);
        EXPECT_EQ(b.getHeight(), 1u);
        EXPECT_EQ(b.getPixel(3, 0), wplat::colorRefFromRgb(0x010101));
    }
}

// A progressive file keeps all its coefficients while it reads: they count
// against the allocation limit together with the pixels.
TEST(ImageSafety, ProgressiveCoefficientsCountAgainstTheLimit)
{
    LimitGuard guard;
    JpegSpec spec;
    spec.width = spec.height = 512;
    spec.components = 1;
    spec.input = JCS_GRAYSCALE;
    spec.pixel = {0x40};
    spec.progressive = true;
    const std::vector<uint8_t> jpeg = makeJpeg(spec);
    const uint64_t pixels = 512 * 512 * 4, coefficients = 64 * 64 * 128;
    wgfx::ImageData out;
    std::string error;
    WBitmap::setAllocationLimit(pixels + coefficients / 4);
    EXPECT_FALSE(decode(jpeg, out, error));
    WBitmap::setAllocationLimit(pixels + coefficients + 65536);
    EXPECT_TRUE(decode(jpeg, out, error)) << error;
}
