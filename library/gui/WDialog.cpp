#include "WDialog.h"

#include "Platform.h"
#include "WException.h"
#include "WSystem.h"

WDialog::WDialog()
    : modal(false), resourceId(0), dialogParent(nullptr), handlerRecord {nullptr, nullptr}, registered(nullptr)
{
    // The dialog manager erases, with the brush WM_CTLCOLORDLG hands it.
    setEraseBackground(false);
}

WDialog::WDialog(WWindowContext* parentContext, unsigned long id)
    : modal(false), resourceId(id), dialogParent(parentContext), handlerRecord {nullptr, nullptr}, registered(nullptr)
{
    setEraseBackground(false);
}

WDialog::WDialog(const WDialog& other)
    : WPanel(other), modal(other.modal), resourceId(other.resourceId), dialogParent(other.dialogParent),
      handlerRecord(other.handlerRecord), registered(nullptr)
{
}

WDialog& WDialog::operator=(const WDialog& other)
{
    if (this != &other) {
        WPanel::operator=(other);
        modal = other.modal;
        resourceId = other.resourceId;
        dialogParent = other.dialogParent;
        handlerRecord = other.handlerRecord;
    }
    return *this;
}

WDialog::~WDialog()
{
    // Destroyed while the object is whole, so WM_DESTROY still reaches it.
    if (ownsWindow && window != nullptr) wplat::destroyWindow(window);
    window = nullptr;
}

void WDialog::init(WWindowContext* parentContext, unsigned long id)
{
    dialogParent = parentContext;
    resourceId = id;
}

int WDialog::show(bool showModal)
{
    handlerRecord.dialog = this;
    handlerRecord.handler = static_cast<WWindow::EventHandler*>(this);
    modal = showModal;
    HWND owner = dialogParent != nullptr ? dialogParent->getWindowHandle() : nullptr;
    parent = dialogParent;
    if (modal) {
        intptr_t result = wplat::dialogBoxParam(
            WSystem::getInstance(), (int)(resourceId & 0xFFFF), owner, &WWindow::windowProc, (LPARAM)&handlerRecord);
        if (result == -1) throw WDialogException("Cannot create modal dialog.", -1);
        window = nullptr;
        return (int)result;
    }
    HWND made = wplat::createDialogParam(
        WSystem::getInstance(), (int)(resourceId & 0xFFFF), owner, &WWindow::windowProc, (LPARAM)&handlerRecord);
    if (made == nullptr) {
        window = nullptr;
        throw WDialogException("Cannot create non modal dialog.", -1);
    }
    window = made;
    return 1;
}

void WDialog::close(int result)
{
    if (window == nullptr) return;
    HWND closing = window;
    window = nullptr;
    if (modal)
        wplat::endDialog(closing, result);
    else
        wplat::destroyWindow(closing);
}

void WDialog::onWindowCreate()
{
    registered = window;
    WSystem::addDialogWindow(window);
    onDialogCreate();
}

void WDialog::onWindowClose()
{
    if (window != nullptr && WSystem::isDialogWindow(window)) onDialogClose();
}

void WDialog::onWindowDestroy()
{
    if (registered != nullptr) WSystem::removeDialogWindow(registered);
    registered = nullptr;
}

LRESULT WDialog::onWindowMessage(HWND handle, unsigned int message, WPARAM wParam, LPARAM lParam)
{
    return WPanel::onWindowMessage(handle, message, wParam, lParam);
}
