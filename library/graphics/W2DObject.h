#pragma once
// Graphic objects: things a graphics window shows on its slides and tests
// against its cursors. Positions given to constructors and setPosition are
// shifted by the drawing context's offset.

#include <memory>

#include "W2DContext.h"
#include "W2DRegion.h"
#include "W2DSurface.h"
#include "WBitmap.h"
#include "WFont.h"
#include "WString.h"

class W2DObject {
public:
    enum Notify { NOTIFY_ENTER = 2, NOTIFY_LEAVE = 3, NOTIFY_CLICK = 4 };

    W2DObject() = default;
    W2DObject(const W2DObject&) = default;
    W2DObject& operator=(const W2DObject&) = default;
    virtual ~W2DObject() = default;

    virtual void setPosition(int x, int y);
    virtual void drawContent(W2DSurface& target) = 0;
    // True when the object's look changed and its area must be redrawn.
    virtual bool onNotification(Notify notify, unsigned long cursorId) = 0;
    virtual bool isPointIn(int x, int y) const { return getRegion().isPointIn(x, y); }
    virtual const W2DRegion& getRegion() const = 0;
    virtual unsigned long getWidth() const { return getRegion().getWidth(); }
    virtual unsigned long getHeight() const { return getRegion().getHeight(); }
    virtual bool isAnimationObject() const { return false; }
    virtual void calcAnimation(const double& time);
    virtual HWND getWindowHandle() const { return nullptr; }

    void setVisible(bool v) { visible = v; }
    bool isVisible() const { return visible; }
    void setInteraction(bool i) { interaction = i; }
    bool isInteraction() const { return interaction; }

    // Kept by the graphics window: cursors currently over the object.
    int hoverCount = 0;

protected:
    bool visible = true;
    bool interaction = true;
    const W2DContext* context = nullptr;
};

// An image stretched into its placement, drawn with its colour key.
class W2DObjectBitmap : public W2DObject {
public:
    W2DObjectBitmap(const W2DContext& context, int x, int y, const char* imageFile, float scaleX, float scaleY);

    void drawContent(W2DSurface& target) override;
    bool onNotification(Notify, unsigned long) override { return false; }
    const W2DRegion& getRegion() const override { return region; }

protected:
    // The image surface is shared by copies of the object.
    std::shared_ptr<W2DSurfaceBitmap> image;
    W2DRegionRectangle region;
};

// The context's whole area, drawn unscaled at the offset; no hit tests.
class W2DObjectBitmapBackground : public W2DObjectBitmap {
public:
    W2DObjectBitmapBackground(const W2DContext& context, const char* imageFile);
    void drawContent(W2DSurface& target) override;
};

class W2DObjectText : public W2DObject {
public:
    enum Align { ALIGN_LEFT = 1, ALIGN_RIGHT = 2, ALIGN_CENTER = 3 };

    // A fixed area; the text wraps inside it.
    W2DObjectText(const W2DContext& context, const RECT& area, const WFont& font, const char* text, Align align,
        unsigned long colour);
    // Sized to the text, left-aligned.
    W2DObjectText(const W2DContext& context, int x, int y, const WFont& font, const char* text, unsigned long colour);

    const WString& getText() const { return text; }
    void setText(const WString& text);
    void setPosition(int x, int y) override;
    void drawContent(W2DSurface& target) override;
    bool onNotification(Notify, unsigned long) override { return false; }
    const W2DRegion& getRegion() const override { return region; }

private:
    void measure();

    unsigned long colour;
    WString text;
    Align align;
    WFont font;
    int x;
    int y;
    bool autoSize;
    W2DRegionRectangle region;
};

class W2DObjectButton : public W2DObject {
public:
    // What the button reads from its application's configuration.
    struct Cfg {
        WFont font;
        unsigned long shape = 1; // 1 rectangle, 2 rounded corners 10x10, other: no frame
        unsigned long textColor = 0;
        unsigned long defaultWidth = 0;
        unsigned long defaultHeight = 0;
        HBRUSH brushNormal = nullptr;
        HBRUSH brushPressed = nullptr;
        COLORREF penColor = 0; // the frame's one-pixel outline
    };

    // Text "$file" or "$normal,pressed": images at scale 1; "!sx:sy,file..."
    // with scales (0:0 fits the image into the button); any other text is
    // drawn centred.
    W2DObjectButton(const W2DContext& context, int x, int y, const Cfg& cfg, const char* text, unsigned long width,
        unsigned long height);

    void setText(const char* text);
    const WString& getText() const { return text; }
    void setOnlyText(bool only) { onlyText = only; }
    const WBitmap* getBitmap(unsigned long index) const;
    bool isPressed() const { return pressed; }
    float getScaleX() const { return scaleX; }
    float getScaleY() const { return scaleY; }

    void drawContent(W2DSurface& target) override;
    bool onNotification(Notify notify, unsigned long cursorId) override;
    const W2DRegion& getRegion() const override { return region; }
    virtual bool isVisible() const { return visible; }

private:
    W2DRegionRectangle region;
    const Cfg* cfg;
    WString text;
    bool onlyText = false;
    std::shared_ptr<WBitmap> images[2];
    bool pressed = false;
    float scaleX = 1.0f;
    float scaleY = 1.0f;
};
