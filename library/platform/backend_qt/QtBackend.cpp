// The Qt backend: the application object, one widget per window, input
// into our queues, the wake-up of the user-interface thread, message boxes
// and text. No meta-object compiler: virtual overrides and lambdas only.

#include <QApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QRawFont>
#include <QScreen>
#include <QStyleFactory>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <atomic>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../internal/Core.h"
#include "../internal/WindowTable.h"
#include "QtBackend_p.h"
#include "QtIcons_p.h"
#include "QtKeys.h"

namespace wplat::detail {

namespace {

const QEvent::Type kWakeEvent = QEvent::Type(QEvent::User + 17);

QFont toQFont(const LOGFONT& f)
{
    QFont font(QString::fromStdString(mapFaceName(f.lfFaceName)));
    int px = f.lfHeight < 0 ? -f.lfHeight : (f.lfHeight > 0 ? f.lfHeight : 11);
    font.setPixelSize(std::max(px, 1));
    font.setWeight(QFont::Weight(std::clamp(f.lfWeight != 0 ? (int)f.lfWeight : 400, 100, 900)));
    font.setItalic(f.lfItalic != 0);
    font.setUnderline(f.lfUnderline != 0);
    font.setStrikeOut(f.lfStrikeOut != 0);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

} // namespace

namespace {

// The widget the pointer moved over last: cursor shapes go to it.
QPointer<QWidget> g_pointerWidget;

// The image's pixels as RGB, whatever its format.
void copyPixels(const QImage& image, PixelImage& out)
{
    QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    out.reset(rgb.width(), rgb.height());
    for (int y = 0; y < rgb.height(); y++) {
        const QRgb* line = (const QRgb*)rgb.constScanLine(y);
        for (int x = 0; x < rgb.width(); x++)
            out.setPixel(x, y, line[x] & 0xFFFFFF);
    }
}

// A window's widget: shows the backing image, turns input into messages.
// A top-level with a menu bar shows it above the client area, which then
// starts `clientTop` pixels down.
class Canvas : public QWidget {
public:
    Canvas(HWND window, QWidget* parent, Qt::WindowFlags flags) : QWidget(parent, flags), hwnd(window)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
    }

    HWND hwnd;
    bool applying = false;
    // A state change of our own is under way: it is not reported back.
    bool applyingState = false;
    // Without a thick frame the user cannot resize the window.
    bool fixedSize = false;
    int clientTop = 0;
    QMenuBar* menuBar = nullptr;

    // Shows `menu` as the bar (null removes it); the height it takes.
    int showMenuBar(HMENU menu)
    {
        if (menu == nullptr) {
            delete menuBar;
            menuBar = nullptr;
            clientTop = 0;
            return 0;
        }
        if (menuBar == nullptr) {
            menuBar = new QMenuBar(this);
            menuBar->setNativeMenuBar(false);
            QObject::connect(menuBar, &QMenuBar::triggered, [this](QAction* action) {
                QVariant id = action->data();
                if (id.isValid() && hwnd != nullptr)
                    postMessage(hwnd, WM_COMMAND, MAKEWPARAM((int)id.toULongLong(), 0), 0);
            });
        }
        menuBar->clear();
        int count = getMenuItemCount(menu);
        for (int i = 0; i < count; i++) {
            UINT state = getMenuState(menu, (UINT)i, MF_BYPOSITION);
            if ((state & MF_SEPARATOR) != 0) {
                menuBar->addSeparator();
                continue;
            }
            QString text = QString::fromStdString(getMenuString(menu, (UINT)i, MF_BYPOSITION));
            bool enabled = (state & (MF_GRAYED | MF_DISABLED)) == 0;
            if ((state & MF_POPUP) != 0) {
                QMenu* sub = menuBar->addMenu(text);
                sub->setEnabled(enabled);
                fillMenu(*sub, getSubMenu(menu, i), 1);
            } else {
                QAction* action = menuBar->addAction(text);
                action->setData(QVariant::fromValue((qulonglong)getMenuItemID(menu, i)));
                action->setEnabled(enabled);
            }
        }
        clientTop = menuBar->sizeHint().height();
        menuBar->setGeometry(0, 0, width(), clientTop);
        menuBar->show();
        return clientTop;
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        auto w = findWindow(hwnd);
        if (!w) return;
        PixelImage& image = backingImage(*w);
        QImage view(
            (const uchar*)image.data(), image.width(), image.height(), image.bytesPerLine(), QImage::Format_RGB32);
        QPainter painter(this);
        painter.setClipRegion(event->region());
        painter.drawImage(0, clientTop, view);
    }

    void changeEvent(QEvent* e) override
    {
        QWidget::changeEvent(e);
        if (e->type() != QEvent::WindowStateChange || applying || applyingState || hwnd == nullptr || !isWindow())
            return;
        Qt::WindowStates state = windowState();
        int showState = (state & Qt::WindowMinimized) != 0 ? SW_SHOWMINIMIZED
            : (state & Qt::WindowMaximized) != 0           ? SW_SHOWMAXIMIZED
                                                           : SW_SHOWNORMAL;
        viewStateChanged(hwnd, showState);
    }

    void resizeEvent(QResizeEvent*) override
    {
        if (menuBar != nullptr) menuBar->setGeometry(0, 0, width(), clientTop);
        // Back from maximised, a window the user cannot resize is fixed again.
        if (fixedSize && isWindow() && windowState() == Qt::WindowNoState && minimumSize() != maximumSize()) {
            applying = true;
            setFixedSize(size());
            applying = false;
        }
        geometryFromUser();
    }

    void mouse(QMouseEvent* e, UINT message)
    {
        WPARAM keys = 0;
        if (e->buttons() & Qt::LeftButton) keys |= MK_LBUTTON;
        if (e->buttons() & Qt::RightButton) keys |= MK_RBUTTON;
        if (e->modifiers() & Qt::ShiftModifier) keys |= MK_SHIFT;
        if (e->modifiers() & Qt::ControlModifier) keys |= MK_CONTROL;
        QPoint p = e->position().toPoint() - QPoint(0, clientTop);
        // The window under the pointer picks the cursor first.
        g_pointerWidget = this;
        viewPointerOver(hwnd, message);
        postInput(hwnd, message, keys, MAKELPARAM(p.x(), p.y()));
    }
    void mouseMoveEvent(QMouseEvent* e) override { mouse(e, WM_MOUSEMOVE); }
    void mousePressEvent(QMouseEvent* e) override
    {
        if (e->button() == Qt::LeftButton)
            mouse(e, WM_LBUTTONDOWN);
        else if (e->button() == Qt::RightButton)
            mouse(e, WM_RBUTTONDOWN);
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (e->button() == Qt::LeftButton)
            mouse(e, WM_LBUTTONUP);
        else if (e->button() == Qt::RightButton)
            mouse(e, WM_RBUTTONUP);
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override
    {
        auto w = findWindow(hwnd);
        bool dbl = w && (w->cls->style & CS_DBLCLKS) != 0;
        if (e->button() == Qt::LeftButton)
            mouse(e, dbl ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN);
        else if (e->button() == Qt::RightButton)
            mouse(e, dbl ? WM_RBUTTONDBLCLK : WM_RBUTTONDOWN);
    }
    void wheelEvent(QWheelEvent* e) override
    {
        QPoint p = e->globalPosition().toPoint();
        postInput(hwnd, WM_MOUSEWHEEL, MAKEWPARAM(0, e->angleDelta().y()), MAKELPARAM(p.x(), p.y()));
    }
    void leaveEvent(QEvent*) override { viewMouseLeft(hwnd); }
    void closeEvent(QCloseEvent* e) override
    {
        e->ignore();
        viewCloseRequested(hwnd);
    }
    void focusInEvent(QFocusEvent*) override { viewFocusChanged(hwnd, true); }

    void moveEvent(QMoveEvent*) override { geometryFromUser(); }

private:
    void geometryFromUser()
    {
        if (applying || !isWindow()) return;
        // Positions of top-levels are their frame's; sizes are the client's.
        QPoint at = pos();
        viewGeometryChanged(hwnd, at.x(), at.y(), width(), std::max(height() - clientTop, 0));
    }
};

class QtView : public View {
public:
    explicit QtView(Canvas* c) : canvas(c) { }
    ~QtView() override
    {
        if (canvas) {
            canvas->hwnd = nullptr;
            canvas->hide();
            canvas->deleteLater();
        }
    }
    void setGeometry(int x, int y, int width, int height) override
    {
        if (!canvas) return;
        canvas->applying = true;
        int w = std::max(width, 1);
        int h = std::max(height, 1) + canvas->clientTop;
        if (canvas->isWindow()) {
            // A top-level is placed by its frame, sized by its client area.
            if (canvas->fixedSize)
                canvas->setFixedSize(w, h);
            else
                canvas->resize(w, h);
            canvas->move(x, y);
        } else {
            auto* parentCanvas = dynamic_cast<Canvas*>(canvas->parentWidget());
            canvas->setGeometry(x, y + (parentCanvas != nullptr ? parentCanvas->clientTop : 0), w, h);
        }
        canvas->applying = false;
    }
    void setVisible(bool visible) override
    {
        if (canvas) {
            canvas->applying = true;
            canvas->setVisible(visible);
            canvas->applying = false;
        }
    }
    void setEnabled(bool enabled) override
    {
        if (canvas) canvas->setEnabled(enabled);
    }
    void setTitle(const std::string& title) override
    {
        if (canvas) canvas->setWindowTitle(QString::fromStdString(title));
    }
    void takeFocus() override
    {
        if (!canvas) return;
        if (canvas->window() != nullptr && canvas->window()->isVisible()) canvas->window()->activateWindow();
        canvas->setFocus(Qt::OtherFocusReason);
    }
    void present(const RECT& r) override
    {
        if (canvas) canvas->update(QRect(r.left, r.top + canvas->clientTop, r.right - r.left, r.bottom - r.top));
    }
    void setShowState(int command) override
    {
        if (!canvas || !canvas->isWindow()) return;
        // The sizes the new state brings are reported; the state itself the core knows.
        canvas->applyingState = true;
        if (command == SW_SHOWMAXIMIZED) {
            // The program may maximise a window the user cannot resize.
            if (canvas->fixedSize) {
                canvas->setMinimumSize(0, 0);
                canvas->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
            }
            canvas->setWindowState(Qt::WindowMaximized);
        } else if (command == SW_SHOWMINIMIZED) {
            canvas->setWindowState(Qt::WindowMinimized);
        } else {
            // Out of a minimised state the window must be mapped and raised again.
            bool wasMinimized = canvas->isMinimized();
            canvas->setWindowState(Qt::WindowNoState);
            if (wasMinimized && canvas->isVisible()) {
                canvas->showNormal();
                canvas->raise();
                canvas->activateWindow();
            }
        }
        canvas->applyingState = false;
    }
    void setTopMost(bool topMost, bool raise) override
    {
        if (!canvas) return;
        if (canvas->isWindow()) {
            bool has = (canvas->windowFlags() & Qt::WindowStaysOnTopHint) != 0;
            if (has != topMost) {
                bool visible = canvas->isVisible();
                canvas->applying = true;
                canvas->setWindowFlag(Qt::WindowStaysOnTopHint, topMost);
                if (visible) canvas->show();
                canvas->applying = false;
            }
        }
        if (raise) canvas->raise();
    }
    POINT screenOrigin() override
    {
        if (!canvas) return POINT {0, 0};
        QPoint p = canvas->mapToGlobal(QPoint(0, canvas->clientTop));
        return POINT {p.x(), p.y()};
    }
    RECT frameExtents() override
    {
        if (!canvas || !canvas->isWindow()) return RECT {0, 0, 0, 0};
        QRect outer = canvas->frameGeometry();
        QRect inner = canvas->geometry();
        // The menu bar is ours, inside the widget: it counts as frame.
        return RECT {inner.left() - outer.left(), inner.top() - outer.top() + canvas->clientTop,
            outer.right() - inner.right(), outer.bottom() - inner.bottom()};
    }
    void setIcon(HICON icon) override
    {
        if (canvas && canvas->isWindow()) setWindowIconOf(*canvas, icon);
    }
    int setMenuBar(HMENU menu) override
    {
        if (!canvas || !canvas->isWindow()) return 0;
        int before = canvas->clientTop;
        int height = canvas->showMenuBar(menu);
        if (height != before) {
            canvas->applying = true;
            QSize size(canvas->width(), std::max(canvas->height() - before, 1) + height);
            if (canvas->fixedSize)
                canvas->setFixedSize(size);
            else
                canvas->resize(size);
            canvas->applying = false;
        }
        return height;
    }

private:
    QPointer<Canvas> canvas;
};

Canvas* canvasOf(HWND window)
{
    auto w = findWindow(window);
    if (!w || !w->view) return nullptr;
    for (QWidget* widget : QApplication::allWidgets()) {
        auto* c = dynamic_cast<Canvas*>(widget);
        if (c != nullptr && c->hwnd == window) return c;
    }
    return nullptr;
}

// Receives the coalesced wake-up and the service timer.
class Pump : public QObject {
public:
    Pump()
    {
        service.setSingleShot(true);
        QObject::connect(&service, &QTimer::timeout, [this] { run(); });
        waitTimer.setSingleShot(true);
        QObject::connect(&waitTimer, &QTimer::timeout, [] {});
    }
    bool event(QEvent* e) override
    {
        if (e->type() != kWakeEvent) return QObject::event(e);
        run();
        return true;
    }
    void run()
    {
        auto q = currentQueue();
        {
            std::lock_guard<std::mutex> guard(q->lock);
            q->wakePending = false;
        }
        // getMessage is waiting: it takes over when the substrate returns.
        if (q->waiting) return;
        DispatchScope scope;
        serviceQueue(true);
    }
    QTimer service;
    QTimer waitTimer;
};

// Keys go into our queue as WM_KEYDOWN/WM_CHAR/WM_KEYUP for the focus window.
class KeyFilter : public QObject {
public:
    bool eventFilter(QObject* target, QEvent* e) override
    {
        if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease) return false;
        auto* canvas = dynamic_cast<Canvas*>(target);
        if (canvas == nullptr || canvas->hwnd == nullptr) return false;
        auto* key = static_cast<QKeyEvent*>(e);
        HWND focus = currentQueue()->focus;
        if (!isWindow(focus)) focus = canvas->hwnd;
        int vk = virtualKeyOf(key->key());
        if (e->type() == QEvent::KeyPress) {
            // The character rides along; translateMessage makes WM_CHAR of it.
            uint64_t character = 0;
            QString text = key->text();
            if (!text.isEmpty() && text[0] != QChar(0x7F)) character = text.toUcs4().value(0);
            if (vk == VK_RETURN) character = 13;
            if (vk != 0 || character != 0) postInput(focus, WM_KEYDOWN, (WPARAM)vk, (LPARAM)((character << 32) | 1));
        } else if (vk != 0) {
            postInput(focus, WM_KEYUP, (WPARAM)vk, (LPARAM)0xC0000001);
        }
        return true;
    }
};

class QtBackend : public Backend {
public:
    QtBackend() { QApplication::instance()->installEventFilter(&keys); }

    std::unique_ptr<View> createView(HWND window, HWND parent, DWORD style, DWORD exStyle) override
    {
        QWidget* parentWidget = nullptr;
        Qt::WindowFlags flags;
        if (parent != nullptr) {
            parentWidget = canvasOf(parent);
        } else {
            auto w = findWindow(window);
            if (w && w->parent != nullptr) parentWidget = canvasOf(w->parent);
            flags = Qt::Window;
            if ((style & WS_POPUP) != 0 && (style & WS_CAPTION) != WS_CAPTION) {
                flags |= Qt::FramelessWindowHint;
            } else {
                // The frame shows the boxes the style asks for, and no others.
                flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
                if ((style & WS_SYSMENU) != 0) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
                if ((style & WS_MINIMIZEBOX) != 0) flags |= Qt::WindowMinimizeButtonHint;
                if ((style & WS_MAXIMIZEBOX) != 0) flags |= Qt::WindowMaximizeButtonHint;
            }
            if ((exStyle & WS_EX_TOOLWINDOW) != 0) flags |= Qt::Tool;
            if ((exStyle & WS_EX_TOPMOST) != 0) flags |= Qt::WindowStaysOnTopHint;
        }
        if (parent != nullptr && parentWidget == nullptr) return nullptr;
        auto* canvas = new Canvas(window, parentWidget, flags);
        if (parent == nullptr) {
            canvas->fixedSize = (style & WS_THICKFRAME) == 0;
            auto w = findWindow(window);
            if (w) canvas->setWindowTitle(QString::fromStdString(w->text));
            if (w && (w->icon != nullptr || w->smallIcon != nullptr))
                setWindowIconOf(*canvas, w->icon != nullptr ? w->icon : w->smallIcon);
        }
        return std::make_unique<QtView>(canvas);
    }

    void wake() override { QCoreApplication::postEvent(&pump, new QEvent(kWakeEvent)); }

    void wait(int timeoutMs) override
    {
        if (timeoutMs == 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            return;
        }
        if (timeoutMs > 0) pump.waitTimer.start(timeoutMs);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
        pump.waitTimer.stop();
    }

    void scheduleService(int ms) override
    {
        if (ms < 0)
            pump.service.stop();
        else
            pump.service.start(ms);
    }

    int messageBox(HWND owner, const char* text, const char* caption, UINT type) override
    {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        switch (type & 0xF0) {
        case MB_ICONERROR:
            icon = QMessageBox::Critical;
            break;
        case MB_ICONQUESTION:
            icon = QMessageBox::Question;
            break;
        case MB_ICONWARNING:
            icon = QMessageBox::Warning;
            break;
        case MB_ICONINFORMATION:
            icon = QMessageBox::Information;
            break;
        default:
            break;
        }
        QMessageBox::StandardButtons buttons = QMessageBox::Ok;
        if ((type & 0x0F) == MB_YESNO)
            buttons = QMessageBox::Yes | QMessageBox::No;
        else if ((type & 0x0F) == MB_OKCANCEL)
            buttons = QMessageBox::Ok | QMessageBox::Cancel;
        QWidget* parent = owner != nullptr ? canvasOf(getAncestorTopLevel(owner)) : nullptr;
        QMessageBox box(icon, QString::fromUtf8(caption), QString::fromUtf8(text), buttons, parent);
        // As the platform's box, it holds up its owner only: the tray icon and
        // other windows still take clicks, which reach the program meanwhile.
        if (parent != nullptr) box.setWindowModality(Qt::WindowModal);
        DispatchScope scope;
        int answer = box.exec();
        switch (answer) {
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        case QMessageBox::Cancel:
            return IDCANCEL;
        default:
            return IDOK;
        }
    }

    bool cursorPos(POINT& point) override
    {
        QPoint p = QCursor::pos();
        point = POINT {p.x(), p.y()};
        return true;
    }

    void setCursorShape(int id) override
    {
        Qt::CursorShape shape = Qt::ArrowCursor;
        switch (id) {
        case IDC_HAND:
            shape = Qt::PointingHandCursor;
            break;
        case IDC_SIZEWE:
            shape = Qt::SizeHorCursor;
            break;
        case IDC_IBEAM:
            shape = Qt::IBeamCursor;
            break;
        case IDC_WAIT:
            shape = Qt::WaitCursor;
            break;
        case 0:
            shape = Qt::BlankCursor;
            break;
        default:
            break;
        }
        QWidget* w = g_pointerWidget ? g_pointerWidget.data() : QApplication::widgetAt(QCursor::pos());
        if (w != nullptr) w->setCursor(shape);
    }

    bool textMetrics(const LOGFONT& f, TextMetrics& m) override
    {
        QFont font = toQFont(f);
        QFontMetrics metrics(font);
        // The platform measures cell height from the face's OS/2 winAscent
        // and winDescent, each rounded up; Qt's own height is a pixel short.
        QRawFont raw = QRawFont::fromFont(font);
        QByteArray os2 = raw.fontTable("OS/2");
        QByteArray head = raw.fontTable("head");
        if (os2.size() >= 78 && head.size() >= 20) {
            auto u16 = [](const QByteArray& t, int at) {
                return (int)(((unsigned char)t[at] << 8) | (unsigned char)t[at + 1]);
            };
            double em = u16(head, 18);
            double px = font.pixelSize();
            m.ascent = (int)std::ceil(u16(os2, 74) * px / em - 1e-9);
            m.descent = (int)std::ceil(u16(os2, 76) * px / em - 1e-9);
        } else {
            m.ascent = metrics.ascent();
            m.descent = metrics.descent();
        }
        int sample = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        m.averageWidth = (sample / 26 + 1) / 2;
        m.maxWidth = metrics.maxWidth();
        return true;
    }

    bool textExtent(const LOGFONT& f, const std::string& text, SIZE& size) override
    {
        TextMetrics m;
        textMetrics(f, m);
        QFontMetrics metrics(toQFont(f));
        size = SIZE {metrics.horizontalAdvance(QString::fromUtf8(text.c_str())), m.ascent + m.descent};
        return true;
    }

    void drawText(PixelImage& image, const std::vector<RECT>& clip, const LOGFONT& f, COLORREF color, int x, int y,
        const std::string& text) override
    {
        if (image.isNull()) return;
        QImage target((uchar*)image.data(), image.width(), image.height(), image.bytesPerLine(), QImage::Format_RGB32);
        QPainter painter(&target);
        QRegion region;
        for (const RECT& r : clip)
            region += QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
        painter.setClipRegion(region);
        QFont font = toQFont(f);
        painter.setFont(font);
        uint32_t rgb = rgbFromColorRef(color);
        painter.setPen(QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
        TextMetrics m;
        textMetrics(f, m);
        painter.drawText(QPoint(x, y + m.ascent), QString::fromUtf8(text.c_str()));
    }

    RECT screenArea() override
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        if (screen == nullptr) return RECT {0, 0, 1024, 768};
        QRect r = screen->availableGeometry();
        return RECT {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }

    bool loadImage(const std::string& path, PixelImage& out) override
    {
        QImage image(QString::fromStdString(path));
        if (image.isNull()) return false;
        copyPixels(image, out);
        return true;
    }

    int dpi() override
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        return screen != nullptr ? (int)std::lround(screen->logicalDotsPerInchY()) : 96;
    }

    Pump pump;
    KeyFilter keys;
};

std::atomic<bool> g_started {false};
QtBackend* g_qt = nullptr;

bool haveDisplay()
{
    const char* platform = getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && (strstr(platform, "offscreen") != nullptr || strstr(platform, "minimal") != nullptr))
        return true;
    const char* display = getenv("DISPLAY");
    const char* wayland = getenv("WAYLAND_DISPLAY");
    if ((display == nullptr || display[0] == '\0') && (wayland == nullptr || wayland[0] == '\0')) return false;
    // Global positions, the pointer position and topmost need X (or XWayland).
    if (platform == nullptr && display != nullptr && display[0] != '\0') setenv("QT_QPA_PLATFORM", "xcb", 0);
    return true;
}

} // namespace

QWidget* widgetOf(HWND window)
{
    return canvasOf(window);
}

} // namespace wplat::detail

namespace wplat {

using namespace detail;

UiStart startUi()
{
    if (g_started.load()) return UiStart::AlreadyStarted;
    if (!haveDisplay()) return UiStart::NoDisplay;
    std::string locale;
    if (const char* l = setlocale(LC_ALL, nullptr)) locale = l;
    static int argc = 1;
    static char name[] = "mirola2";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance() == nullptr) new QApplication(argc, argv);
    // Qt takes the numeric locale from the environment: "%.6f" must keep its point.
    setlocale(LC_ALL, locale.empty() ? "C" : locale.c_str());
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setQuitOnLastWindowClosed(false);
    g_qt = new QtBackend();
    setBackend(g_qt);
    g_started.store(true);
    return UiStart::Started;
}

bool isUiStarted()
{
    return g_started.load();
}

bool isUiThread()
{
    return g_started.load() && uiQueue() == currentQueue();
}

bool grabWindow(HWND window, PixelImage& out)
{
    if (!isUiThread()) return false;
    Canvas* canvas = canvasOf(window);
    if (canvas == nullptr) return false;
    copyPixels(canvas->grab().toImage(), out);
    return true;
}

int screenDpi()
{
    Backend* b = backend();
    return b != nullptr ? b->dpi() : 96;
}

} // namespace wplat
