#pragma once

#include "PlatformTypes.h"
#include "WString.h"
#include "WWindow.h"
#include "WWindowStyle.h"

// The base of every native child control: its name, dialog item id and
// owning context. Its window is subclassed by one shared procedure that
// routes focus, keys and mouse input to the owning context's callbacks.
class WControl : public WWindowContext {
public:
    WControl();
    WControl(WWindowContext* context, const char* name, unsigned long dialogItemId);
    WControl(WWindowContext* context, const char* name, const WWindowStyle& style, int x, int y, unsigned long width,
        unsigned long height);
    WControl(const WControl& other);
    WControl& operator=(const WControl& other);
    virtual ~WControl();

    virtual void destroy();
    virtual bool formatText(WString& text) const;
    virtual bool isTextControl() const;
    virtual void getControlArea(RECT& area);
    virtual unsigned long getControlWidth() const;
    virtual unsigned long getControlHeight() const;

    void create(WWindowContext* context, const char* name, unsigned long dialogItemId);
    void create(WWindowContext* context, const char* name, const WWindowStyle& style, int x, int y, unsigned long width,
        unsigned long height);

    const char* getName() const { return name.getBuf(); }
    unsigned long getNameId() const;
    unsigned long getControlId() const { return controlId; }
    WNDPROC getPrevWndProc() const { return prevWndProc; }
    WWindowContext* getWindowContext() const { return context; }
    WWindow::EventHandler* getArangeHandler() const { return arangeHandler; }
    void setArangeHandler(WWindow::EventHandler* handler) { arangeHandler = handler; }
    void setClientEdge(bool on);

    // The shared procedure of every control window.
    static LRESULT controlProc(HWND window, unsigned int message, WPARAM wParam, LPARAM lParam);

protected:
    // Ends this object's hold on its window: a created control destroys it;
    // a control attached to a dialog item gives the item back untouched.
    void release();

private:
    // How the object came by its window: it made it, or a dialog item lent it.
    enum class Origin { Created, Attached };

    void registerControl(WWindowContext* context, const char* name, unsigned long id, Origin origin);
    void initialize();

    WString name;
    unsigned long controlId;
    WNDPROC prevWndProc;
    WWindowContext* context;
    WWindow::EventHandler* arangeHandler;
    // False in a copy: only the object that registered the window releases it.
    bool ownsWindow;
    Origin origin;
};

// The library-wide table from native window to control.
class WControlManager {
public:
    static WControl* getControl(HWND window);
};
