// Menus shown by Qt: pop-up menus and the items of menu bars, built from
// our own menu model; actions carry their command ids.

#include <QAction>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QPixmap>

#include "../internal/Core.h"
#include "QtBackend_p.h"

namespace wplat {

using namespace detail;

namespace detail {

namespace {
QPixmap pixmapOf(HBITMAP bitmap)
{
    const PixelImage* image = bitmap != nullptr ? getBitmapImage(bitmap) : nullptr;
    if (image == nullptr || image->isNull()) return QPixmap();
    QImage view(
        (const uchar*)image->data(), image->width(), image->height(), image->bytesPerLine(), QImage::Format_RGB32);
    return QPixmap::fromImage(view.copy());
}
} // namespace

void fillMenu(QMenu& target, HMENU menu, int depth)
{
    int count = getMenuItemCount(menu);
    for (int i = 0; i < count && depth < 16; i++) {
        UINT state = getMenuState(menu, (UINT)i, MF_BYPOSITION);
        if ((state & MF_SEPARATOR) != 0) {
            target.addSeparator();
            continue;
        }
        QString text = QString::fromStdString(getMenuString(menu, (UINT)i, MF_BYPOSITION));
        if ((state & MF_POPUP) != 0) {
            QMenu* sub = target.addMenu(text);
            sub->setEnabled((state & (MF_GRAYED | MF_DISABLED)) == 0);
            fillMenu(*sub, getSubMenu(menu, i), depth + 1);
            continue;
        }
        QAction* action = target.addAction(text);
        action->setData(QVariant::fromValue((qulonglong)getMenuItemID(menu, i)));
        action->setEnabled((state & (MF_GRAYED | MF_DISABLED)) == 0);
        HBITMAP unchecked = nullptr;
        HBITMAP checked = nullptr;
        getMenuItemBitmaps(menu, (UINT)i, MF_BYPOSITION, unchecked, checked);
        HBITMAP mark = (state & MF_CHECKED) != 0 ? checked : unchecked;
        if (mark != nullptr) {
            // The item's own picture stands in place of the check mark.
            action->setIcon(QIcon(pixmapOf(mark)));
            action->setIconVisibleInMenu(true);
        } else if ((state & MF_CHECKED) != 0) {
            action->setCheckable(true);
            action->setChecked(true);
        }
    }
}

} // namespace detail

namespace {

struct PopupCall {
    HMENU menu;
    int x;
    int y;
    UINT_PTR chosen;
};

void runPopup(void* context)
{
    auto* call = (PopupCall*)context;
    QMenu menu;
    fillMenu(menu, call->menu, 0);
    DispatchScope scope;
    QAction* action = menu.exec(QPoint(call->x, call->y));
    call->chosen = action != nullptr ? (UINT_PTR)action->data().toULongLong() : 0;
}
} // namespace

UINT_PTR trackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner)
{
    if (!isUiStarted() || !isMenu(menu)) return 0;
    PopupCall call {menu, x, y, 0};
    runOnUiThread(runPopup, &call);
    if ((flags & TPM_RETURNCMD) != 0) return call.chosen;
    if (call.chosen != 0 && owner != nullptr) postMessage(owner, WM_COMMAND, MAKEWPARAM((int)call.chosen, 0), 0);
    return call.chosen != 0 ? 1 : 0;
}

} // namespace wplat
