// Graphic objects: placement by the context's offset, stretched images,
// backgrounds, text sizing, and the button's text grammar and drawing.
#include <gtest/gtest.h>

#include "GraphicsTestSupport.h"
#include "Platform.h"
#include "W2DObject.h"
#include "WException.h"

using namespace gtest_support;

namespace {

class TestContext : public W2DContext {
public:
    TestContext(int ox, int oy)
    {
        setOffsets(ox, oy);
        openDevice();
        getSurfacePrimary().create(*this, 0);
    }
    void getArea(RECT& out) const override { out = RECT {0, 0, 100, 50}; }
};

// A w x h 24-bit BMP of one colour.
std::string writeBmp(const TempDir& dir, const char* name, int w, int h, uint32_t rgb)
{
    std::vector<std::vector<uint8_t>> rows {size_t(h)};
    for (auto& row : rows)
        for (int x = 0; x < w; ++x) {
            row.push_back(uint8_t(rgb));
            row.push_back(uint8_t(rgb >> 8));
            row.push_back(uint8_t(rgb >> 16));
        }
    std::string path = dir.path(name);
    writeFile(path, makeBmp(w, h, 24, 0, {}, {}, rows));
    return path;
}

void expectRect(const RECT& r, int l, int t, int rr, int b)
{
    EXPECT_EQ(r.left, l);
    EXPECT_EQ(r.top, t);
    EXPECT_EQ(r.right, rr);
    EXPECT_EQ(r.bottom, b);
}

} // namespace

TEST(Object, BitmapPlacementAndDrawing)
{
    TempDir dir;
    TestContext ctx(5, 5);
    W2DObjectBitmap b(ctx, 10, 20, writeBmp(dir, "a.bmp", 30, 40, 0xFF0000).c_str(), 2.0f, 0.5f);
    RECT box;
    b.getRegion().getBoundingBox(box);
    expectRect(box, 15, 25, 75, 45);
    EXPECT_EQ(b.getWidth(), 60u);
    EXPECT_TRUE(b.isPointIn(15, 25));
    EXPECT_FALSE(b.isPointIn(75, 25));
    EXPECT_FALSE(b.isAnimationObject());
    EXPECT_FALSE(b.onNotification(W2DObject::NOTIFY_ENTER, 0));

    W2DSurfaceOffscreen target;
    target.create(ctx, 100, 50);
    b.drawContent(target);
    EXPECT_EQ(target.getImage()->pixel(15, 25), 0xFF0000u);
    EXPECT_EQ(target.getImage()->pixel(74, 44), 0xFF0000u);
    EXPECT_EQ(target.getImage()->pixel(75, 44), 0u);

    W2DObjectBitmapBackground bg(ctx, writeBmp(dir, "bg.bmp", 100, 50, 0x00FF00).c_str());
    bg.getRegion().getBoundingBox(box);
    expectRect(box, 5, 5, 105, 55);
    EXPECT_FALSE(bg.isInteraction());
    bg.drawContent(target);
    EXPECT_EQ(target.getImage()->pixel(4, 4), 0u);
    EXPECT_EQ(target.getImage()->pixel(5, 5), 0x00FF00u);
}

TEST(Object, ButtonTextGrammar)
{
    TempDir dir;
    TestContext ctx(0, 0);
    std::string a = writeBmp(dir, "a.bmp", 20, 20, 0xFF0000);
    std::string b = writeBmp(dir, "b.bmp", 20, 20, 0x0000FF);
    W2DObjectButton::Cfg cfg;
    cfg.shape = 3;
    cfg.defaultWidth = 100;
    cfg.defaultHeight = 50;

    W2DObjectButton button(ctx, 0, 0, cfg, ("!1.5:2," + a + "," + b).c_str(), 0, 0);
    EXPECT_FLOAT_EQ(button.getScaleX(), 1.5f);
    EXPECT_FLOAT_EQ(button.getScaleY(), 2.0f);
    ASSERT_NE(button.getBitmap(0), nullptr);
    ASSERT_NE(button.getBitmap(1), nullptr);
    EXPECT_STREQ(button.getBitmap(1)->getFilename().getBuf(), b.c_str());
    EXPECT_EQ(button.getBitmap(2), nullptr);
    EXPECT_EQ(button.getWidth(), 100u);

    // "$" alone: one image at scale 1; pressed still draws it. Scales from
    // the text before do not stay.
    button.setText(("$" + a).c_str());
    EXPECT_FLOAT_EQ(button.getScaleX(), 1.0f);
    EXPECT_EQ(button.getBitmap(1), nullptr);
    EXPECT_TRUE(button.onNotification(W2DObject::NOTIFY_ENTER, 7));
    EXPECT_TRUE(button.isPressed());
    W2DSurfaceOffscreen target;
    target.create(ctx, 100, 50);
    button.drawContent(target);
    EXPECT_EQ(target.getImage()->pixel(50, 25), 0xFF0000u); // centred 20x20
    EXPECT_EQ(target.getImage()->pixel(39, 25), 0u);
    EXPECT_EQ(target.getImage()->pixel(0, 0), 0u); // shape 3: no frame
    EXPECT_TRUE(button.onNotification(W2DObject::NOTIFY_LEAVE, 7));
    EXPECT_FALSE(button.onNotification(W2DObject::NOTIFY_CLICK, 7));

    // "!0:0": fitted keeping the aspect ratio: 2.5 -> 50x50 at (25, 0).
    button.setText(("!0:0," + a).c_str());
    target.erase(0);
    button.drawContent(target);
    EXPECT_FLOAT_EQ(button.getScaleX(), 2.5f);
    EXPECT_EQ(target.getImage()->pixel(25, 0), 0xFF0000u);
    EXPECT_EQ(target.getImage()->pixel(74, 49), 0xFF0000u);
    EXPECT_EQ(target.getImage()->pixel(24, 10), 0u);
    EXPECT_EQ(target.getImage()->pixel(75, 10), 0u);

    EXPECT_THROW(button.setText("$nowhere.bmp"), WBitmapException);
}

TEST(Object, ButtonFrames)
{
    TestContext ctx(0, 0);
    W2DObjectButton::Cfg cfg;
    cfg.shape = 1;
    cfg.brushNormal = wplat::createSolidBrush(0x00FF0000); // blue
    cfg.brushPressed = wplat::createSolidBrush(0x0000FF00); // green
    cfg.penColor = 0x000000FF; // red
    W2DObjectButton button(ctx, 10, 10, cfg, "", 20, 10); // a text button with no text
    W2DSurfaceOffscreen target;
    target.create(ctx, 40, 30);
    button.drawContent(target);
    EXPECT_EQ(target.getImage()->pixel(10, 10), 0xFF0000u); // outline
    EXPECT_EQ(target.getImage()->pixel(29, 19), 0xFF0000u);
    EXPECT_EQ(target.getImage()->pixel(15, 15), 0x0000FFu); // brush
    EXPECT_EQ(target.getImage()->pixel(30, 15), 0u);
    button.onNotification(W2DObject::NOTIFY_ENTER, 0);
    button.drawContent(target);
    EXPECT_EQ(target.getImage()->pixel(15, 15), 0x00FF00u);

    cfg.shape = 2;
    target.erase(0);
    button.drawContent(target);
    EXPECT_EQ(target.getImage()->pixel(10, 10), 0u); // rounded corner
    EXPECT_EQ(target.getImage()->pixel(20, 10), 0xFF0000u);

    button.setOnlyText(true);
    target.erase(0);
    button.drawContent(target);
    EXPECT_EQ(target.getImage()->pixel(20, 10), 0u);
    wplat::deleteObject(wplat::toObject(cfg.brushNormal));
    wplat::deleteObject(wplat::toObject(cfg.brushPressed));
}

TEST(Object, TextAreas)
{
    TestContext ctx(2, 3);
    WFont font;
    W2DObjectText fixed(ctx, RECT {0, 0, 40, 20}, font, "some longer text that wraps", W2DObjectText::ALIGN_CENTER, 0);
    RECT box;
    fixed.getRegion().getBoundingBox(box);
    expectRect(box, 2, 3, 42, 23);
    fixed.setText("x");
    fixed.getRegion().getBoundingBox(box);
    expectRect(box, 2, 3, 42, 23); // a fixed area keeps its size
    fixed.setPosition(10, 10);
    fixed.getRegion().getBoundingBox(box);
    expectRect(box, 12, 13, 52, 33);

    W2DObjectText sized(ctx, 5, 5, font, "ab", 0);
    unsigned long shortWidth = sized.getWidth();
    sized.setText("abababababab");
    EXPECT_GE(sized.getWidth(), shortWidth);
    sized.setText("");
    EXPECT_LE(sized.getWidth(), shortWidth);
    sized.getRegion().getBoundingBox(box);
    EXPECT_TRUE(box.left == 7 || sized.getWidth() == 0);
}

// Objects drawn through a device context keep to the surface's clip region
// even when it is not a rectangle: a button clipped to a circle leaves the
// corners of the circle's box alone, its frame, brush and image alike.
TEST(Object, DrawingKeepsToNonRectangularClipRegions)
{
    TempDir dir;
    TestContext ctx(0, 0);
    W2DObjectButton::Cfg cfg;
    cfg.shape = 1;
    cfg.brushNormal = wplat::createSolidBrush(0x00FF0000);
    cfg.penColor = 0x000000FF;
    W2DRegionEllipse circle;
    circle.create(RECT {10, 10, 30, 30});
    struct Case {
        const char* name;
        std::string text;
        unsigned long width, height;
    };
    const std::string image = writeBmp(dir, "img.bmp", 8, 8, 0x00FF00);
    for (const Case& c : {Case {"frame and brush", "", 40, 40},
             Case {"image larger than the button", "!5:5," + image, 10, 10}, Case {"text", "Start", 40, 40}}) {
        SCOPED_TRACE(c.name);
        W2DObjectButton button(ctx, 5, 5, cfg, c.text.c_str(), c.width, c.height);
        W2DSurfaceOffscreen target;
        target.create(ctx, 50, 50);
        target.getImage()->fill(0x010101);
        target.setClipRegion(circle);
        button.drawContent(target);
        int inside = 0;
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 50; ++x) {
                const bool changed = target.getImage()->pixel(x, y) != 0x010101u;
                if (circle.isPointIn(x, y)) {
                    inside += changed;
                    continue;
                }
                ASSERT_FALSE(changed) << "pixel " << x << "," << y << " outside the circle";
            }
        if (c.text != "Start") {
            EXPECT_GT(inside, 200);
        }
    }
    wplat::deleteObject(wplat::toObject(cfg.brushNormal));
}
