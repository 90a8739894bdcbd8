// The graphics window, driven without a display: windows paint into their
// backing images and posted messages are pumped by the test.
#include <gtest/gtest.h>

#include "GraphicsTestSupport.h"
#include "Platform.h"
#include "W2DGraphicsWindow.h"
#include "WException.h"

using namespace gtest_support;

namespace {

void registerWindowClass()
{
    static bool done = false;
    if (done) return;
    WWindow::setClassName("ZvGraphicsWindowTest");
    wplat::WindowClass cls;
    cls.proc = &WWindow::windowProc;
    cls.name = "ZvGraphicsWindowTest";
    done = wplat::registerClass(cls);
}

void pump()
{
    MSG msg;
    while (wplat::peekMessage(msg, nullptr, wplat::Peek::Remove))
        wplat::dispatchMessage(msg);
}

struct Log {
    std::vector<std::string> lines;
};

// An object that records its notifications and how often it is deleted.
class Probe : public W2DObject {
public:
    Probe(Log& into, const char* objectName, RECT area, int* deletions = nullptr)
        : log(into), name(objectName), deleted(deletions)
    {
        region.create(area);
    }
    ~Probe() override
    {
        if (deleted) ++*deleted;
    }
    void drawContent(W2DSurface& target) override
    {
        if (wplat::PixelImage* img = target.getImage()) {
            const RECT& r = region.getRectangle();
            img->fillRect(r.left, r.top, r.right, r.bottom, colour);
        }
    }
    bool onNotification(Notify n, unsigned long cursor) override
    {
        log.lines.push_back(name + ":" + std::to_string(int(n)) + ":" + std::to_string(cursor));
        return true;
    }
    const W2DRegion& getRegion() const override { return region; }
    bool isAnimationObject() const override { return animated; }

    Log& log;
    std::string name;
    int* deleted;
    W2DRegionRectangle region;
    uint32_t colour = 0x00FF00;
    bool animated = false;
};

class TestWindow : public W2DGraphicsWindow {
public:
    explicit TestWindow(Type windowType = TYPE_WINDOW_COMPOSE) : W2DGraphicsWindow("test", windowType) { }
    ~TestWindow() override { close(); }

    std::vector<unsigned long> slidesShown;
    std::vector<unsigned long> timersFired;
    int created = 0;
    int destroyed = 0;
    bool rearm = false;

protected:
    void onGraphicsWindowSlide(unsigned long slide) override { slidesShown.push_back(slide); }
    void onGraphicsWindowCreate() override { ++created; }
    void onGraphicsWindowDestroy() override { ++destroyed; }
    void onGraphicsWindowKeyPressed(int) override { }
    void onGraphicsWindowTimer(unsigned long id) override
    {
        timersFired.push_back(id);
        if (rearm && id == 7) addTimer(7, 2);
    }
};

WDisplayDevice screen()
{
    WDisplayDevice::MonitorInfo info {{0, 0, 640, 480}, {0, 0, 640, 480}};
    return WDisplayDevice("screen", "", true, info, nullptr);
}

} // namespace

TEST(GraphicsWindow, SlidesAndObjects)
{
    registerWindowClass();
    TestWindow w;
    w.create(nullptr, 1, 25, 10, 10, 100, 80, screen(), 0, 0);
    EXPECT_EQ(w.getSlideCount(), 1u); // 25 slides become 1
    EXPECT_EQ(w.created, 1);
    w.close();
    EXPECT_EQ(w.destroyed, 1);

    TestWindow v;
    v.create(nullptr, 1, 3, 10, 10, 100, 80, screen(), 0, 0);
    ASSERT_NE(v.getWindowHandle(), nullptr);
    v.selectSlide(3); // accepted
    pump();
    EXPECT_EQ(v.getCurrentSlide(), 3u);
    ASSERT_FALSE(v.slidesShown.empty());
    EXPECT_EQ(v.slidesShown.back(), 3u);
    try {
        v.selectSlide(4);
        FAIL() << "no exception";
    } catch (const W2DGraphicsWindowException& e) {
        EXPECT_STREQ(e.getMessage().getBuf(), "Cannot switch to slide 4");
    }

    Log log;
    int deleted = 0;
    v.addObject("2,3", "a", new Probe(log, "a", RECT {0, 0, 10, 10}, &deleted), false);
    v.addObject("", "b", new Probe(log, "b", RECT {0, 0, 10, 10}), false);
    EXPECT_EQ(v.getSlideObjects(1).size(), 1u);
    EXPECT_EQ(v.getSlideObjects(2).size(), 2u);
    EXPECT_EQ(v.getSlideObjects(3).size(), 2u);
    // Replacing "a" keeps its drawing position and deletes the old object.
    auto* replacement = new Probe(log, "a2", RECT {0, 0, 5, 5});
    v.addObject("2,3", "a", replacement, false);
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(v.getSlideObjects(2).front(), replacement);
    // Naming fewer slides takes it off the others.
    v.addObject("3", "a", replacement, false);
    EXPECT_EQ(v.getSlideObjects(2).size(), 1u);
    EXPECT_EQ(v.getSlideObjects(3).front(), replacement);
    v.removeObject("a");
    EXPECT_EQ(v.getSlideObjects(3).size(), 1u);
    v.addObject("9,0,2", "c", new Probe(log, "c", RECT {0, 0, 1, 1}), false); // out of range: refused
    EXPECT_EQ(v.getSlideObjects(2).size(), 2u);
    v.removeAllObjects("c");
    EXPECT_EQ(v.getSlideObjects(2).size(), 1u);
}

TEST(GraphicsWindow, CursorsHoverAndClicks)
{
    registerWindowClass();
    TempDir dir;
    std::vector<std::vector<uint8_t>> rows(21, std::vector<uint8_t>(31 * 3, 0x40));
    writeFile(dir.path("c.bmp"), makeBmp(31, 21, 24, 0, {}, {}, rows));

    TestWindow w(W2DGraphicsWindow::TYPE_EXCLUSIVE_FLIP);
    w.create(nullptr, 1, 1, 0, 0, 100, 80, screen(), 0, 0);
    Log log;
    auto* probe = new Probe(log, "p", RECT {10, 10, 40, 40});
    w.addObject("", "p", probe, false);
    w.addCursor(1, dir.path("c.bmp").c_str(), false, "center");
    int hx = 0, hy = 0;
    ASSERT_TRUE(w.getCursorHotSpot(1, hx, hy));
    EXPECT_EQ(hx, -15);
    EXPECT_EQ(hy, -10);
    w.addCursor(2, "", false, "pos3:4");
    w.getCursorHotSpot(2, hx, hy);
    EXPECT_EQ(hx, -3);
    EXPECT_EQ(hy, -4);

    w.setCursorPos(1, 20, 20, true);
    w.setCursorPos(2, 25, 25, true);
    w.renderFrame(0);
    // Two cursors over one object: one enter.
    EXPECT_EQ(log.lines, std::vector<std::string>({"p:2:1"}));
    EXPECT_EQ(probe->hoverCount, 2);
    // The cursor image is drawn with its top-left at (x - 15, y - 10).
    const wplat::PixelImage* frame = w.getSurfacePrimary().getImage();
    EXPECT_EQ(frame->pixel(5, 10), 0x404040u);
    EXPECT_EQ(frame->pixel(4, 10), 0u);

    w.clickCursor(1); // type 3: waits for the next frame
    EXPECT_EQ(log.lines.size(), 1u);
    w.renderFrame(0);
    EXPECT_EQ(log.lines.back(), "p:4:1");

    w.setCursorPos(1, 90, 70, false);
    w.renderFrame(0);
    EXPECT_EQ(log.lines.size(), 2u); // one cursor still over it
    w.setCursorPos(2, 90, 70, false);
    w.renderFrame(0);
    EXPECT_EQ(log.lines.back(), "p:3:2");
    EXPECT_EQ(probe->hoverCount, 0);

    // Hidden objects take no hover (in both update paths).
    probe->setVisible(false);
    w.setCursorPos(2, 20, 20, false);
    w.onWindowUserMessage(reinterpret_cast<void*>(3), nullptr);
    EXPECT_EQ(probe->hoverCount, 0);
}

TEST(GraphicsWindow, Timers)
{
    registerWindowClass();
    TestWindow w;
    w.create(nullptr, 1, 1, 0, 0, 50, 50, screen(), 0, 0);
    EXPECT_FALSE(w.addTimer(1, 0));
    EXPECT_TRUE(w.addTimer(1, 3));
    w.onWindowTimerTick();
    w.onWindowTimerTick();
    EXPECT_TRUE(w.timersFired.empty());
    unsigned long remaining = 0;
    EXPECT_TRUE(w.getTimer(1, remaining));
    EXPECT_EQ(remaining, 1u);
    w.onWindowTimerTick();
    EXPECT_EQ(w.timersFired, std::vector<unsigned long>({1}));
    EXPECT_EQ(w.getTimerCount(), 0u);

    // A timer started again from its own hook keeps its id.
    w.rearm = true;
    w.addTimer(7, 1);
    w.onWindowTimerTick();
    EXPECT_TRUE(w.getTimer(7, remaining));
    EXPECT_EQ(remaining, 2u);
    EXPECT_EQ(w.getTimerCount(), 1u);
    w.rearm = false;
    w.onWindowTimerTick();
    w.onWindowTimerTick();
    EXPECT_EQ(w.timersFired, std::vector<unsigned long>({1, 7, 7}));
    EXPECT_EQ(w.getTimerCount(), 0u);

    for (unsigned long i = 0; i < 10; ++i)
        EXPECT_TRUE(w.addTimer(100 + i, 5));
    EXPECT_FALSE(w.addTimer(200, 5));
    w.removeTimer(103);
    EXPECT_EQ(w.getTimerCount(), 9u);
    EXPECT_TRUE(w.addTimer(300, 1));
    EXPECT_EQ(w.getTimerCount(), 10u);
    w.removeAllTimers();
    EXPECT_EQ(w.getTimerCount(), 0u);
}

TEST(GraphicsWindow, RepaintDrawsStillObjectsIntoTheWindow)
{
    registerWindowClass();
    TestWindow w(W2DGraphicsWindow::TYPE_WINDOW_REPAINT);
    w.create(nullptr, 1, 1, 20, 30, 60, 40, screen(), 0, 0);
    Log log;
    w.addObject("", "p", new Probe(log, "p", RECT {5, 5, 15, 15}), false);
    w.onWindowRestore(nullptr, RECT {0, 0, 60, 40});
    const wplat::PixelImage* shown = wplat::getBackingImage(w.getWindowHandle());
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->pixel(7, 7), 0x00FF00u);
    EXPECT_EQ(shown->pixel(20, 20), 0u);
}
