#include "WControlEdit.h"

#include "ControlTypes.h"
#include "internal/WControlHelpers.h"

namespace {

std::shared_ptr<void> makeBrush(unsigned long color)
{
    HBRUSH brush = wplat::createSolidBrush((COLORREF)color);
    if (brush == nullptr) return nullptr;
    return std::shared_ptr<void>(brush, [](void* b) { wplat::deleteObject(wplat::toObject((HBRUSH)b)); });
}

} // namespace

WControlEdit::WControlEdit() : textColor(0), backColor(0xFFFFFF)
{
}

WControlEdit::WControlEdit(WWindowContext* owner, const char* controlName, unsigned long dialogItemId) : WControlEdit()
{
    create(owner, controlName, dialogItemId);
}

WControlEdit::WControlEdit(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
    unsigned long height, Style style, bool clientEdge)
    : WControlEdit()
{
    create(owner, controlName, x, y, width, height, style, clientEdge);
}

WControlEdit::WControlEdit(const WControlEdit& other)
    : WControl(other), brush(other.brush), textColor(other.textColor), backColor(other.backColor)
{
}

WControlEdit& WControlEdit::operator=(const WControlEdit& other)
{
    if (this != &other) {
        WControl::operator=(other);
        brush = other.brush;
        textColor = other.textColor;
        backColor = other.backColor;
    }
    return *this;
}

WControlEdit::~WControlEdit()
{
    brush.reset();
}

void WControlEdit::create(WWindowContext* owner, const char* controlName, unsigned long dialogItemId)
{
    WControl::create(owner, controlName, dialogItemId);
}

void WControlEdit::create(WWindowContext* owner, const char* controlName, int x, int y, unsigned long width,
    unsigned long height, Style style, bool clientEdge)
{
    if (window != nullptr) return;
    wplat::registerControlClasses();
    unsigned long bits = style == STYLE_SINGLELINE ? 0x80
        : style == STYLE_PASSWORD                  ? 0xA0
        : style == STYLE_MULTILINE                 ? 0x201044
                                                   : 0;
    WControl::create(owner, controlName, WWindowStyle("EDIT", 0x50010000 | bits, clientEdge ? WS_EX_CLIENTEDGE : 0), x,
        y, width, wcontrols::defaultHeight(height));
    wcontrols::setDefaultFont(window);
}

void WControlEdit::destroy()
{
    brush.reset();
    WControl::destroy();
    textColor = 0;
    backColor = 0xFFFFFF;
}

void WControlEdit::setText(const char* text)
{
    wplat::sendMessage(window, WM_SETTEXT, 0, (LPARAM)(text != nullptr ? text : ""));
}

void WControlEdit::getText(WString& text) const
{
    wcontrols::readWindowText(window, text);
}

void WControlEdit::setFont(const WFont& font)
{
    wplat::sendMessage(window, WM_SETFONT, (WPARAM)(HFONT)font, 1);
}

void WControlEdit::setColor(unsigned long text, unsigned long back)
{
    // The colours are read while the field paints: they change on its thread.
    struct Change {
        WControlEdit* field;
        unsigned long text;
        unsigned long back;
    } change {this, text, back};
    auto apply = [](void* pending) {
        auto* c = static_cast<Change*>(pending);
        c->field->brush.reset();
        c->field->textColor = c->text;
        c->field->backColor = c->back;
        c->field->brush = makeBrush(c->back);
        if (c->field->window != nullptr) wplat::invalidateRect(c->field->window, nullptr, true);
    };
    if (window == nullptr || !wplat::runOnWindowThread(window, apply, &change)) apply(&change);
}

HBRUSH WControlEdit::getBackColorBrush() const
{
    return (HBRUSH)brush.get();
}

void WControlEdit::setReadOnly(bool readOnly)
{
    wplat::sendMessage(window, EM_SETREADONLY, readOnly ? 1 : 0, 0);
}

void WControlEdit::setLowercase(bool on)
{
    if (window == nullptr) return;
    LONG_PTR style = wplat::getWindowLongPtr(window, GWL_STYLE);
    wplat::setWindowLongPtr(window, GWL_STYLE, on ? (style | ES_LOWERCASE) : (style & ~(LONG_PTR)ES_LOWERCASE));
}

void WControlEdit::setUppercase(bool on)
{
    if (window == nullptr) return;
    LONG_PTR style = wplat::getWindowLongPtr(window, GWL_STYLE);
    wplat::setWindowLongPtr(window, GWL_STYLE, on ? (style | ES_UPPERCASE) : (style & ~(LONG_PTR)ES_UPPERCASE));
}

bool WControlEdit::formatText(WString& text) const
{
    getText(text);
    text.trim();
    return true;
}

bool WControlEdit::isTextControl() const
{
    return true;
}
