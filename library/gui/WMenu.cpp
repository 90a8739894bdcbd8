#include "WMenu.h"

#include "Platform.h"
#include "WException.h"

WMenu::WMenu() : menu(nullptr), ownsMenu(true)
{
}

WMenu::WMenu(const WMenu& other) : menu(other.menu), ownsMenu(false)
{
}

WMenu& WMenu::operator=(const WMenu& other)
{
    if (this != &other) {
        destroy();
        menu = other.menu;
        ownsMenu = false;
    }
    return *this;
}

WMenu::~WMenu()
{
    destroy();
}

void WMenu::create()
{
    if (menu != nullptr) return;
    menu = wplat::createMenu();
    ownsMenu = true;
    if (menu == nullptr) throw WMenuException("Cannot create menu.", -1);
}

void WMenu::destroy()
{
    if (menu != nullptr && ownsMenu) wplat::destroyMenu(menu);
    menu = nullptr;
    ownsMenu = true;
}

void WMenu::addItem(unsigned long id, const char* text)
{
    wplat::appendMenu(menu, MF_STRING, (UINT_PTR)id, text);
}

void WMenu::addItem(unsigned long id, const char* text, HBITMAP checked, HBITMAP unchecked)
{
    addItem(id, text);
    wplat::setMenuItemBitmaps(menu, (UINT)id, MF_BYCOMMAND, unchecked, checked);
}

void WMenu::addSubMenu(HMENU subMenu, const char* text)
{
    wplat::appendMenu(menu, MF_POPUP, (UINT_PTR)subMenu, text);
}

void WMenu::addSeparator()
{
    wplat::appendMenu(menu, MF_SEPARATOR, 0, nullptr);
}

void WMenu::setItemActive(unsigned long id, bool active)
{
    wplat::enableMenuItem(menu, (UINT)id, MF_BYCOMMAND | (active ? MF_ENABLED : MF_GRAYED));
}

void WMenu::setItemChecked(unsigned long id, bool checked)
{
    wplat::checkMenuItem(menu, (UINT)id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void WMenu::removeItem(unsigned long id)
{
    wplat::removeMenu(menu, (UINT)id, MF_BYCOMMAND);
}
