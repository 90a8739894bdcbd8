#pragma once

#include "PlatformTypes.h"

// Owns a native menu (a menu bar or a pop-up).
class WMenu {
public:
    WMenu();
    WMenu(const WMenu& other);
    WMenu& operator=(const WMenu& other);
    virtual ~WMenu();

    void create();
    void destroy();
    void addItem(unsigned long id, const char* text);
    void addItem(unsigned long id, const char* text, HBITMAP checked, HBITMAP unchecked);
    void addSubMenu(HMENU subMenu, const char* text);
    void addSeparator();
    void setItemActive(unsigned long id, bool active);
    void setItemChecked(unsigned long id, bool checked);
    void removeItem(unsigned long id);

    HMENU getMenuHandle() const { return menu; }
    operator HMENU() const { return menu; }

private:
    HMENU menu;
    // False in a copy: only the object that made the menu destroys it.
    bool ownsMenu;
};
