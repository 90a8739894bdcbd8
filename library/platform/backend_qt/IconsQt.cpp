// Program icons: registered pictures by resource id, and the picture drawn
// in code for the main icon when the program registers none.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include <xcb/xcb.h>

#include <climits>
#include <map>
#include <mutex>
#include <vector>

#include "../ProgramIcon.h"
#include "QtIcons_p.h"

namespace {

constexpr unsigned int kMainIcon = 102;

std::mutex& g_iconLock = *new std::mutex;
// Decoded pictures by id; QImage is safe without an application object.
std::map<unsigned int, std::vector<QImage>>& g_icons = *new std::map<unsigned int, std::vector<QImage>>;

// The built-in picture: 32 by 32, a few flat colours.
QImage drawnIcon()
{
    QImage picture(32, 32, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setBrush(QColor(0, 0, 128));
    p.setPen(Qt::NoPen);
    p.drawRect(2, 2, 28, 28);
    p.setPen(QPen(QColor(255, 255, 0), 4));
    p.drawLine(9, 9, 23, 9);
    p.drawLine(23, 9, 9, 23);
    p.drawLine(9, 23, 23, 23);
    return picture;
}

} // namespace

bool registerProgramIcon(unsigned int id, const unsigned char* data, size_t size)
{
    if (data == nullptr || size == 0 || size > (size_t)INT_MAX) return false;
    QImage image;
    if (!image.loadFromData(data, (int)size) || image.isNull()) return false;
    std::lock_guard<std::mutex> guard(g_iconLock);
    g_icons[id].push_back(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    return true;
}

HICON loadProgramIcon(unsigned int id)
{
    std::lock_guard<std::mutex> guard(g_iconLock);
    if (g_icons.count(id) == 0 && id != kMainIcon) return nullptr;
    // The handle is the id: icons live as long as the program.
    return (HICON)(uintptr_t)id;
}

namespace wplat::detail {

QIcon qtIcon(HICON icon)
{
    auto id = (unsigned int)(uintptr_t)icon;
    std::vector<QImage> pictures;
    {
        std::lock_guard<std::mutex> guard(g_iconLock);
        auto it = g_icons.find(id);
        if (it != g_icons.end()) pictures = it->second;
    }
    if (pictures.empty() && id == kMainIcon) pictures.push_back(drawnIcon());
    QIcon out;
    for (const QImage& picture : pictures)
        out.addPixmap(QPixmap::fromImage(picture));
    return out;
}

void setWindowIconOf(QWidget& widget, HICON icon)
{
    widget.setWindowIcon(icon != nullptr ? qtIcon(icon) : QIcon());
    // Qt's X plugin writes the icon property without sending its request
    // buffer; on a settled window no other request or event would send it.
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 != nullptr && x11->connection() != nullptr) xcb_flush(x11->connection());
}

} // namespace wplat::detail
