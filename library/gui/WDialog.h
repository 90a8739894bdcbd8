#pragma once

#include "WPanel.h"

// A panel whose window comes from a dialog template registered under a
// resource id, shown modal or non-modal. While its window exists it is in
// WSystem's dialog-window registry, so the message loop gives it the
// keyboard interface of dialogs.
class WDialog : public WPanel {
public:
    WDialog();
    WDialog(WWindowContext* parent, unsigned long resourceId);
    WDialog(const WDialog& other);
    WDialog& operator=(const WDialog& other);
    ~WDialog() override;

    virtual void onDialogCreate() = 0;
    virtual void onDialogClose() = 0;

    void init(WWindowContext* parent, unsigned long resourceId);
    // Modal: runs the dialog until close and returns its result. Non-modal:
    // creates the window and returns 1.
    int show(bool modal);
    void close(int result);
    bool isModal() const { return modal; }
    unsigned long getResourceId() const { return resourceId; }

    void onWindowCreate() override;
    void onWindowClose() override;
    void onWindowDestroy() override;
    LRESULT onWindowMessage(HWND window, unsigned int message, WPARAM wParam, LPARAM lParam) override;

private:
    bool modal;
    unsigned long resourceId;
    WWindowContext* dialogParent;
    DialogHandlerRecord handlerRecord;
    // The window this object put into the dialog-window registry.
    HWND registered;
};
