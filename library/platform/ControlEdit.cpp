// Edit fields and rich-edit fields. The text is the window text; the
// selection, limits, colours and the rich-edit character format live here.
// Positions count bytes of the text, as the platform's 8-bit interface does.

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>

#include "internal/ControlSupport.h"
#include "internal/RtfReader.h"
#include "internal/RichFormats.h"

namespace wplat::controls {

namespace {

struct EditState : State {
    bool rich = false;
    size_t anchor = 0; // where the selection started
    size_t caret = 0; // where it ends (the caret)
    size_t limit = 0x7FFFFFFE;
    bool tracking = false;
    // Rich-edit fields only.
    DWORD eventMask = 0;
    bool urlDetect = false;
    bool hideSelection = false;
    WPARAM textMode = TM_RICHTEXT;
    COLORREF background = 0xFFFFFFFFu; // none: the system's window colour
    RichFormats formats;
    int linkPressed = -1;
    // How far a one-line field's text is scrolled left, so the caret shows.
    int scrollX = 0;
};

size_t selStart(const EditState& s)
{
    return std::min(s.anchor, s.caret);
}
size_t selEnd(const EditState& s)
{
    return std::max(s.anchor, s.caret);
}

bool isContinuation(char c)
{
    return ((unsigned char)c & 0xC0) == 0x80;
}

size_t prevChar(const std::string& t, size_t pos)
{
    if (pos == 0) return 0;
    pos--;
    while (pos > 0 && isContinuation(t[pos]))
        pos--;
    if (pos > 0 && t[pos] == '\n' && t[pos - 1] == '\r') pos--;
    return pos;
}

size_t nextChar(const std::string& t, size_t pos)
{
    if (pos >= t.size()) return t.size();
    if (t[pos] == '\r' && pos + 1 < t.size() && t[pos + 1] == '\n') return pos + 2;
    pos++;
    while (pos < t.size() && isContinuation(t[pos]))
        pos++;
    return pos;
}

void clampSelection(EditState& s, size_t length)
{
    s.anchor = std::min(s.anchor, length);
    s.caret = std::min(s.caret, length);
}

bool changeNotified(HWND, const EditState& s)
{
    return !s.rich || (s.eventMask & ENM_CHANGE) != 0;
}

// Replaces the selection with `text`; the caret lands after it.
void replaceSelection(HWND w, EditState& s, std::string text, bool notify)
{
    std::string all = getWindowText(w);
    clampSelection(s, all.size());
    size_t start = selStart(s);
    size_t end = selEnd(s);
    size_t room = s.limit > all.size() - (end - start) ? s.limit - (all.size() - (end - start)) : 0;
    if (text.size() > room) {
        text.resize(room);
        if (notify) notifyCommand(w, EN_MAXTEXT);
    }
    all.replace(start, end - start, text);
    defWindowProc(w, WM_SETTEXT, 0, (LPARAM)all.c_str());
    if (s.rich) s.formats.replace(start, end, text.size());
    s.anchor = s.caret = start + text.size();
    invalidateRect(w, nullptr, true);
    if (notify && changeNotified(w, s)) notifyCommand(w, EN_CHANGE);
}

// Lines of the text, for painting and hit testing: start offsets.
std::vector<size_t> lineStarts(const std::string& text, bool multiLine)
{
    std::vector<size_t> starts {0};
    if (!multiLine) return starts;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\n') starts.push_back(i + 1);
    }
    return starts;
}

std::string lineText(const std::string& text, const std::vector<size_t>& starts, size_t line)
{
    size_t from = starts[line];
    size_t to = line + 1 < starts.size() ? starts[line + 1] : text.size();
    std::string s = text.substr(from, to - from);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

std::string shown(HWND w, const std::string& text)
{
    if ((styleOf(w) & ES_PASSWORD) == 0) return text;
    std::string stars;
    for (char c : text) {
        if (!isContinuation(c)) stars += '*';
    }
    return stars;
}

const int kMargin = 2;

// Where a point falls in a rich field's text, measured in its formats.
size_t richPositionFromPoint(HWND w, const EditState& s, const std::string& text, int x, int y)
{
    HDC dc = createCompatibleDC(nullptr);
    RichPainter painter(w, s.formats, dc);
    bool multi = (styleOf(w) & ES_MULTILINE) != 0;
    auto lines = painter.layout(text, lineStarts(text, multi), kMargin, lineHeight(w));
    size_t n = 0;
    while (n + 1 < lines.size() && y >= lines[n + 1].top)
        n++;
    const RichPainter::Line& line = lines[n];
    size_t best = line.from;
    int bestDistance = std::abs(x - kMargin);
    for (size_t pos = line.from; pos < line.from + line.length;) {
        pos = nextChar(text, pos);
        int distance = std::abs(x - kMargin - painter.width(text, line.from, pos));
        if (distance < bestDistance) {
            best = pos;
            bestDistance = distance;
        }
    }
    deleteDC(dc);
    return best;
}

size_t positionFromPoint(HWND w, const EditState& s, const std::string& text, int x, int y)
{
    if (s.rich) return richPositionFromPoint(w, s, text, x + s.scrollX, y);
    x += s.scrollX;
    bool multi = (styleOf(w) & ES_MULTILINE) != 0;
    std::vector<size_t> starts = lineStarts(text, multi);
    int h = lineHeight(w);
    size_t line = y <= kMargin ? 0 : std::min((size_t)((y - kMargin) / h), starts.size() - 1);
    std::string l = lineText(text, starts, line);
    size_t best = 0;
    for (size_t pos = 0; pos <= l.size(); pos = nextChar(l, pos)) {
        int width = textWidth(w, shown(w, l.substr(0, pos)));
        if (width + kMargin <= x)
            best = pos;
        else {
            int before = textWidth(w, shown(w, l.substr(0, best)));
            if (x - kMargin - before > width - (x - kMargin)) best = pos;
            break;
        }
        if (pos == l.size()) break;
    }
    return starts[line] + best;
}

// The detected link around a position: [from, to) or false.
bool linkAt(const std::string& text, size_t pos, size_t& from, size_t& to)
{
    static const char* const schemes[] = {"http://", "https://", "ftp://", "mailto:", "file://", "www."};
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace((unsigned char)text[i]))
            i++;
        size_t start = i;
        while (i < text.size() && !std::isspace((unsigned char)text[i]))
            i++;
        std::string word = text.substr(start, i - start);
        bool link = false;
        for (const char* scheme : schemes) {
            if (startsWithNoCase(word, scheme) && word.size() > strlen(scheme)) link = true;
        }
        if (link && pos >= start && pos < i) {
            from = start;
            to = i;
            while (to > from && std::strchr(".,;:!?)\"'", text[to - 1]) != nullptr)
                to--;
            return pos < to;
        }
    }
    return false;
}

// A rich field's lines, each part in its own format; selection and caret
// measured the same way.
void paintRichLines(HWND w, EditState& s, HDC dc, const std::string& all, const std::vector<size_t>& starts, int top,
    int left, bool showSelection, bool focused, COLORREF text)
{
    RichPainter painter(w, s.formats, dc);
    RECT r;
    getClientRect(w, r);
    bool disabled = !isWindowEnabled(w);
    for (const RichPainter::Line& line : painter.layout(all, starts, top, lineHeight(w))) {
        if (line.top > r.bottom) break;
        size_t end = line.from + line.length;
        size_t a = std::clamp(selStart(s), line.from, end);
        size_t b = std::clamp(selEnd(s), line.from, end);
        if (showSelection && b > a) {
            int x0 = left + painter.width(all, line.from, a);
            int x1 = left + painter.width(all, line.from, b);
            fillSolid(dc, RECT {x0, line.top, x1, line.top + line.height}, RGB(0x33, 0x99, 0xFF));
        }
        // Parts of different sizes share the line's base line.
        TEXTMETRIC tm {};
        selectFont(w, dc);
        getTextMetrics(dc, tm);
        int baseline = line.top + line.height - tm.tmDescent;
        // A disabled field greys every part alike.
        painter.draw(all, line.from, end, left, baseline, text, disabled);
        if (focused && s.caret >= line.from && s.caret <= end) {
            int x = left + painter.width(all, line.from, s.caret);
            fillSolid(dc, RECT {x, line.top, x + 1, line.top + line.height}, text);
        }
    }
}

void paintEdit(HWND w, EditState& s)
{
    ControlPaint paint(w);
    HDC dc = paint.dc();
    if (dc == nullptr) return;
    RECT r = paint.client();
    DWORD style = styleOf(w);
    bool readOnly = (style & ES_READONLY) != 0 || !isWindowEnabled(w);
    COLORREF text;
    HBRUSH back = parentColors(w, readOnly && !s.rich ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT, dc, text);
    if (s.rich && s.background != 0xFFFFFFFFu)
        fillSolid(dc, r, s.background);
    else if (back != nullptr)
        fillRect(dc, r, back);
    else
        fillSolid(dc, r, getSysColor(readOnly ? COLOR_BTNFACE : COLOR_WINDOW));
    if (!isWindowEnabled(w)) text = getSysColor(COLOR_GRAYTEXT);
    if ((getWindowLongPtr(w, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0 || (style & WS_BORDER) != 0)
        drawFrame(dc, r, RGB(0x80, 0x80, 0x80));
    selectFont(w, dc);
    std::string all = getWindowText(w);
    clampSelection(s, all.size());
    std::vector<size_t> starts = lineStarts(all, (style & ES_MULTILINE) != 0);
    int h = lineHeight(w);
    bool focused = getFocus() == w;
    bool showSelection = focused || (!s.hideSelection && s.rich);
    // A one-line field centres its line; more lines start at the top.
    int top = (style & ES_MULTILINE) != 0 ? kMargin : std::max(kMargin, (int)(r.bottom - h) / 2);
    s.scrollX = 0;
    if ((style & ES_MULTILINE) == 0) {
        // Keep the caret inside the field; no empty room after the text's end.
        int visible = std::max(1, (int)r.right - 2 * kMargin - 1);
        int caretX = textWidth(w, shown(w, all.substr(0, s.caret)));
        int total = textWidth(w, shown(w, all));
        s.scrollX = std::clamp(caretX - visible, 0, std::max(0, total - visible));
    }
    const int left = kMargin - s.scrollX;
    if (s.rich) {
        paintRichLines(w, s, dc, all, starts, top, left, showSelection && focused, focused, text);
        return;
    }
    for (size_t line = 0; line < starts.size(); line++) {
        int y = top + (int)line * h;
        if (y > r.bottom) break;
        std::string l = lineText(all, starts, line);
        size_t from = starts[line];
        size_t a = std::clamp(selStart(s), from, from + l.size()) - from;
        size_t b = std::clamp(selEnd(s), from, from + l.size()) - from;
        if (showSelection && b > a) {
            int x0 = left + textWidth(w, shown(w, l.substr(0, a)));
            int x1 = left + textWidth(w, shown(w, l.substr(0, b)));
            fillSolid(dc, RECT {x0, y, x1, y + h}, RGB(0x33, 0x99, 0xFF));
        }
        drawTextLine(dc, left, y, shown(w, l), text);
        if (focused && s.caret >= from && s.caret <= from + l.size()) {
            int x = left + textWidth(w, shown(w, l.substr(0, s.caret - from)));
            fillSolid(dc, RECT {x, y, x + 1, y + h}, text);
        }
    }
}

void typeChar(HWND w, EditState& s, unsigned char c)
{
    DWORD style = styleOf(w);
    if ((style & ES_READONLY) != 0) return;
    std::string all = getWindowText(w);
    clampSelection(s, all.size());
    if (c == VK_BACK) {
        if (s.anchor == s.caret) s.anchor = prevChar(all, s.caret);
        if (s.anchor != s.caret) replaceSelection(w, s, "", true);
        return;
    }
    if (c == '\r' || c == '\n') {
        if ((style & ES_MULTILINE) != 0 && ((style & ES_WANTRETURN) != 0 || s.rich))
            replaceSelection(w, s, "\r\n", true);
        return;
    }
    if (c < 0x20 && c != '\t') return;
    if (c == '\t' && (style & ES_MULTILINE) == 0) return;
    if ((style & ES_NUMBER) != 0 && !std::isdigit(c)) return;
    if ((style & ES_UPPERCASE) != 0)
        c = (unsigned char)std::toupper(c);
    else if ((style & ES_LOWERCASE) != 0)
        c = (unsigned char)std::tolower(c);
    replaceSelection(w, s, std::string(1, (char)c), true);
}

void moveCaret(HWND w, EditState& s, WPARAM key)
{
    std::string all = getWindowText(w);
    clampSelection(s, all.size());
    bool extend = (getKeyState(VK_SHIFT) & 0x8000) != 0;
    size_t pos = s.caret;
    switch (key) {
    case VK_LEFT:
        if (!extend && s.anchor != s.caret)
            pos = selStart(s);
        else
            pos = prevChar(all, pos);
        break;
    case VK_RIGHT:
        if (!extend && s.anchor != s.caret)
            pos = selEnd(s);
        else
            pos = nextChar(all, pos);
        break;
    case VK_HOME:
        pos = 0;
        break;
    case VK_END:
        pos = all.size();
        break;
    case VK_DELETE:
        if ((styleOf(w) & ES_READONLY) != 0) return;
        if (s.anchor == s.caret) s.caret = nextChar(all, s.caret);
        if (s.anchor != s.caret) replaceSelection(w, s, "", true);
        return;
    default:
        return;
    }
    s.caret = pos;
    if (!extend) s.anchor = pos;
    invalidateRect(w, nullptr, true);
}

LRESULT setSel(HWND w, EditState& s, intptr_t start, intptr_t end)
{
    size_t length = (size_t)getWindowTextLength(w);
    if (start < 0) {
        s.anchor = s.caret; // no selection: the caret stays
    } else {
        s.anchor = std::min((size_t)start, length);
        s.caret = end < 0 ? length : std::min((size_t)end, length);
    }
    clampSelection(s, length);
    invalidateRect(w, nullptr, true);
    return 1;
}

// What the stream callback delivers, up to the end or its error.
LRESULT streamIn(HWND w, EditState& s, WPARAM format, EDITSTREAM* stream)
{
    if (stream == nullptr || stream->pfnCallback == nullptr) return 0;
    std::string data;
    uint8_t buffer[4096];
    stream->dwError = 0;
    for (;;) {
        long done = 0;
        DWORD error = stream->pfnCallback(stream->dwCookie, buffer, (long)sizeof buffer, &done);
        if (error != 0) {
            stream->dwError = error;
            break;
        }
        if (done <= 0) break;
        data.append((const char*)buffer, (size_t)std::min<long>(done, (long)sizeof buffer));
    }
    RichText read;
    if ((format & SF_RTF) != 0 && s.textMode != TM_PLAINTEXT)
        read = rtfToRichText(data);
    else
        read.text = data;
    if ((format & 0x8000) == 0) { // SFF_SELECTION: into the selection, else the whole text
        s.anchor = 0;
        s.caret = (size_t)getWindowTextLength(w);
    }
    clampSelection(s, (size_t)getWindowTextLength(w));
    size_t at = selStart(s);
    replaceSelection(w, s, read.text, false);
    // The document's own formats, as far as its text was taken.
    if (s.rich) s.formats.applySpans(at, read.spans);
    return (LRESULT)read.text.size();
}

LRESULT editCommon(HWND w, EditState& s, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case WM_SETTEXT: {
        std::string text = textArg(lp);
        if (text.size() > s.limit) text.resize(s.limit);
        defWindowProc(w, WM_SETTEXT, 0, (LPARAM)text.c_str());
        s.formats.reset(text.size());
        s.anchor = s.caret = 0;
        invalidateRect(w, nullptr, true);
        if (changeNotified(w, s)) notifyCommand(w, EN_CHANGE);
        return 1;
    }
    case EM_GETSEL:
        if (wp != 0) *(DWORD*)wp = (DWORD)selStart(s);
        if (lp != 0) *(DWORD*)lp = (DWORD)selEnd(s);
        return (LRESULT)MAKELPARAM(
            (int)std::min<size_t>(selStart(s), 0xFFFF), (int)std::min<size_t>(selEnd(s), 0xFFFF));
    case EM_SETSEL:
        return setSel(w, s, (intptr_t)(int)wp, (intptr_t)lp);
    case EM_REPLACESEL:
        replaceSelection(w, s, textArg(lp), true);
        return 0;
    case EM_LIMITTEXT:
        s.limit = wp == 0 ? 0x7FFFFFFE : (size_t)wp;
        return 0;
    case EM_SETREADONLY:
        setStyleBits(w, ES_READONLY, wp != 0);
        invalidateRect(w, nullptr, true);
        return 1;
    case EM_SCROLLCARET:
        return 1;
    case WM_GETDLGCODE: {
        LRESULT code = DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
        const MSG* msg = (const MSG*)lp;
        if ((styleOf(w) & ES_MULTILINE) != 0 && msg != nullptr && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN
            && ((styleOf(w) & ES_WANTRETURN) != 0 || s.rich))
            code |= DLGC_WANTALLKEYS;
        return code;
    }
    case WM_CHAR:
        typeChar(w, s, (unsigned char)wp);
        return 0;
    case WM_KEYDOWN:
        if (wp == 'A' && (getKeyState(VK_CONTROL) & 0x8000) != 0) {
            // Ctrl+A selects the whole text.
            s.anchor = 0;
            s.caret = (size_t)getWindowTextLength(w);
            invalidateRect(w, nullptr, true);
            return 0;
        }
        moveCaret(w, s, wp);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        setFocus(w);
        std::string all = getWindowText(w);
        size_t pos = positionFromPoint(w, s, all, GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
        s.caret = pos;
        if ((wp & MK_SHIFT) == 0) s.anchor = pos;
        s.tracking = true;
        setCapture(w);
        invalidateRect(w, nullptr, true);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (s.tracking) {
            s.caret = positionFromPoint(w, s, getWindowText(w), GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
            invalidateRect(w, nullptr, true);
        }
        return 0;
    case WM_LBUTTONUP:
        if (s.tracking) {
            s.tracking = false;
            releaseCapture();
        }
        return 0;
    case WM_SETFOCUS:
        invalidateRect(w, nullptr, true);
        notifyCommand(w, EN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        invalidateRect(w, nullptr, true);
        notifyCommand(w, EN_KILLFOCUS);
        return 0;
    case WM_ENABLE:
    case WM_SIZE:
        invalidateRect(w, nullptr, true);
        return 0;
    case WM_SETCURSOR:
        setCursor(loadCursor(IDC_IBEAM));
        return 1;
    case WM_PAINT:
        paintEdit(w, s);
        return 0;
    default:
        return defWindowProc(w, m, wp, lp);
    }
}

// The selection and ranges of text.
std::optional<LRESULT> richSelectionMessage(HWND w, EditState& s, UINT m, WPARAM wp, LPARAM lp)
{
    std::string all;
    switch (m) {
    case EM_EXGETSEL:
        if (lp != 0) {
            clampSelection(s, (size_t)getWindowTextLength(w));
            ((CHARRANGE*)lp)->cpMin = (int32_t)selStart(s);
            ((CHARRANGE*)lp)->cpMax = (int32_t)selEnd(s);
        }
        return 0;
    case EM_EXSETSEL:
        if (lp == 0) return (LRESULT)selEnd(s);
        setSel(w, s, ((CHARRANGE*)lp)->cpMin, ((CHARRANGE*)lp)->cpMax);
        return (LRESULT)selEnd(s);
    case EM_HIDESELECTION:
        s.hideSelection = wp != 0;
        invalidateRect(w, nullptr, true);
        return 0;
    case EM_GETSELTEXT:
        all = getWindowText(w);
        clampSelection(s, all.size());
        if (lp == 0) return 0;
        memcpy((char*)lp, all.data() + selStart(s), selEnd(s) - selStart(s));
        ((char*)lp)[selEnd(s) - selStart(s)] = '\0';
        return (LRESULT)(selEnd(s) - selStart(s));
    case EM_GETTEXTRANGE: {
        TEXTRANGEA* range = (TEXTRANGEA*)lp;
        if (range == nullptr || range->lpstrText == nullptr) return 0;
        all = getWindowText(w);
        size_t from = std::min((size_t)std::max(range->chrg.cpMin, 0), all.size());
        size_t to = range->chrg.cpMax < 0 ? all.size() : std::min((size_t)range->chrg.cpMax, all.size());
        if (to < from) to = from;
        memcpy(range->lpstrText, all.data() + from, to - from);
        range->lpstrText[to - from] = '\0';
        return (LRESULT)(to - from);
    }
    default:
        return std::nullopt;
    }
}

// Text mode, events, colours, character formats and loading.
std::optional<LRESULT> richFormatMessage(HWND w, EditState& s, UINT m, WPARAM wp, LPARAM lp)
{
    switch (m) {
    case EM_SETTEXTMODE:
        if (wp != TM_PLAINTEXT && wp != TM_RICHTEXT) return 1;
        s.textMode = wp;
        return 0;
    case EM_GETTEXTMODE:
        return (LRESULT)s.textMode;
    case EM_SETEVENTMASK: {
        DWORD old = s.eventMask;
        s.eventMask = (DWORD)lp;
        return (LRESULT)old;
    }
    case EM_GETEVENTMASK:
        return (LRESULT)s.eventMask;
    case EM_AUTOURLDETECT:
        s.urlDetect = wp != 0;
        return 0;
    case EM_SETBKGNDCOLOR: {
        COLORREF old = s.background == 0xFFFFFFFFu ? getSysColor(COLOR_WINDOW) : s.background;
        s.background = wp != 0 ? 0xFFFFFFFFu : (COLORREF)lp;
        invalidateRect(w, nullptr, true);
        return (LRESULT)old;
    }
    case EM_SETCHARFORMAT: {
        const CHARFORMAT2A* f = (const CHARFORMAT2A*)lp;
        if (f == nullptr || f->cbSize < 60 || f->cbSize > sizeof(CHARFORMAT2A)) return 0;
        CHARFORMAT2A change {};
        memcpy(&change, f, f->cbSize);
        if ((wp & SCF_SELECTION) != 0 && (wp & SCF_ALL) == 0) {
            clampSelection(s, (size_t)getWindowTextLength(w));
            s.formats.apply(selStart(s), selEnd(s), change);
        } else {
            s.formats.applyAll(change);
        }
        invalidateRect(w, nullptr, true);
        return 1;
    }
    case EM_GETCHARFORMAT: {
        clampSelection(s, (size_t)getWindowTextLength(w));
        CHARFORMAT2A copy = (wp & SCF_SELECTION) != 0 ? s.formats.query(selStart(s), selEnd(s)) : s.formats.base();
        if (lp != 0) {
            CHARFORMAT2A* f = (CHARFORMAT2A*)lp;
            UINT size = std::min<UINT>(f->cbSize, sizeof(CHARFORMAT2A));
            copy.cbSize = size;
            memcpy(f, &copy, size);
        }
        return (LRESULT)copy.dwMask;
    }
    case EM_STREAMIN:
        return streamIn(w, s, wp, (EDITSTREAM*)lp);
    default:
        return std::nullopt;
    }
}

// A click on a detected link is the parent's first; an answer of non-zero
// from it keeps the click from the field.
std::optional<LRESULT> richLinkMessage(HWND w, EditState& s, UINT m, WPARAM wp, LPARAM lp)
{
    if (m != WM_LBUTTONDOWN && m != WM_LBUTTONUP) return std::nullopt;
    if (!s.urlDetect || (s.eventMask & ENM_LINK) == 0) return std::nullopt;
    std::string all = getWindowText(w);
    size_t pos = positionFromPoint(w, s, all, GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
    size_t from = 0;
    size_t to = 0;
    if (!linkAt(all, pos, from, to)) return std::nullopt;
    ENLINK link {};
    link.msg = m;
    link.wParam = wp;
    link.lParam = lp;
    link.chrg = CHARRANGE {(int32_t)from, (int32_t)to};
    if (notifyParent(w, link.nmhdr, EN_LINK) != 0) return 0;
    return std::nullopt;
}

LRESULT anyEditProc(HWND w, UINT m, WPARAM wp, LPARAM lp, bool rich)
{
    EditState* s = trackState<EditState>(w, m, [rich] {
        auto* made = new EditState;
        made->rich = rich;
        return made;
    });
    if (s == nullptr) return defWindowProc(w, m, wp, lp);
    if (rich) {
        for (auto group : {richSelectionMessage, richFormatMessage, richLinkMessage}) {
            if (std::optional<LRESULT> answer = group(w, *s, m, wp, lp)) return *answer;
        }
    }
    return editCommon(w, *s, m, wp, lp);
}

} // namespace

LRESULT editProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    return anyEditProc(w, m, wp, lp, false);
}

LRESULT richEditProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    return anyEditProc(w, m, wp, lp, true);
}

} // namespace wplat::controls
