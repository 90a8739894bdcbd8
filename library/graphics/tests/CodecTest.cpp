// The decoders against damaged input: every truncation and scattered byte
// damage of valid files must fail cleanly or decode, never read out of
// bounds; hostile sizes are refused. Also RLE bitmaps.
#include <gtest/gtest.h>

#include "GraphicsTestSupport.h"
#include "internal/ImageData.h"

using namespace gtest_support;

namespace {

std::vector<std::vector<uint8_t>> sampleFiles()
{
    wgfx::ImageData img;
    img.width = 7;
    img.height = 5;
    img.frames.assign(1, std::vector<uint32_t>(35));
    for (size_t i = 0; i < 35; ++i)
        img.frames[0][i] = 0xFF000000u | uint32_t(i * 0x050607);
    std::vector<uint8_t> gif, jpeg, png;
    wgfx::encodeGif(img, 0, gif);
    wgfx::encodeJpeg(img, 0, 75, jpeg);
    wgfx::encodePng(img, 0, png);
    std::vector<uint8_t> bmp = makeBmp(2, 2, 8, 0, {0xFF0000, 0x00FF00}, {}, {{0, 1}, {1, 0}});
    return {gif, jpeg, png, bmp};
}

} // namespace

TEST(Codec, DamagedInputFailsCleanly)
{
    for (const std::vector<uint8_t>& file : sampleFiles()) {
        ASSERT_FALSE(file.empty());
        wgfx::ImageData out;
        std::string error;
        ASSERT_TRUE(wgfx::decodeImage(file.data(), file.size(), out, error)) << error;
        for (size_t n = 0; n < file.size(); ++n) {
            std::vector<uint8_t> cut(file.begin(), file.begin() + long(n));
            wgfx::decodeImage(cut.data(), cut.size(), out, error);
        }
        for (size_t i = 0; i < file.size(); ++i) {
            std::vector<uint8_t> bad = file;
            bad[i] ^= 0xA5;
            if (wgfx::decodeImage(bad.data(), bad.size(), out, error)) {
                ASSERT_FALSE(out.frames.empty());
                for (const auto& frame : out.frames)
                    ASSERT_EQ(frame.size(), size_t(out.width) * size_t(out.height));
            }
        }
    }
}

TEST(Codec, HostileSizesAreRefused)
{
    std::vector<uint8_t> bmp = makeBmp(2, 2, 24, 0, {}, {}, {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}});
    // Width 0x40000000: far beyond the limit and the data.
    bmp[18] = 0;
    bmp[19] = 0;
    bmp[20] = 0;
    bmp[21] = 0x40;
    wgfx::ImageData out;
    std::string error;
    EXPECT_FALSE(wgfx::decodeImage(bmp.data(), bmp.size(), out, error));
    EXPECT_TRUE(out.frames.empty());
    const uint8_t notAnImage[] = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_FALSE(wgfx::decodeImage(notAnImage, sizeof notAnImage, out, error));
    EXPECT_FALSE(wgfx::decodeImage(nullptr, 0, out, error));
}

TEST(Codec, RunLengthBitmaps)
{
    // 4x2 RLE8, bottom-up: row 0 (bottom) = run of 4 x index 1; row 1 = a
    // literal run 0,1,0,1; then end of bitmap.
    std::vector<uint8_t> runs = {4, 1, 0, 0, 0, 4, 0, 1, 0, 1, 0, 0, 0, 1};
    std::vector<uint8_t> bmp = makeBmp(4, 2, 8, 1, {0x000000, 0xFFFFFF}, {}, {{}, {}});
    // Replace the (empty) pixel rows with the run data.
    const uint32_t offset = uint32_t(bmp[10]) | (uint32_t(bmp[11]) << 8);
    bmp.resize(offset);
    bmp.insert(bmp.end(), runs.begin(), runs.end());
    wgfx::ImageData out;
    std::string error;
    ASSERT_TRUE(wgfx::decodeImage(bmp.data(), bmp.size(), out, error)) << error;
    EXPECT_EQ(out.pixelFormat, wgfx::PF_8BPP_INDEXED);
    EXPECT_EQ(out.frames[0][4 + 0] & 0xFFFFFF, 0xFFFFFFu); // bottom row
    EXPECT_EQ(out.frames[0][0] & 0xFFFFFF, 0x000000u); // top row: 0,1,0,1
    EXPECT_EQ(out.frames[0][1] & 0xFFFFFF, 0xFFFFFFu);
    // A literal run longer than the data is refused.
    bmp.resize(offset);
    const uint8_t shortRun[] = {4, 1, 0, 0, 0, 40, 1, 2};
    bmp.insert(bmp.end(), shortRun, shortRun + sizeof shortRun);
    EXPECT_FALSE(wgfx::decodeImage(bmp.data(), bmp.size(), out, error));
}
