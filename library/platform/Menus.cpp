// Menus as our own model: items with command ids, texts, states and
// pop-ups. Handles are never reused, so a stale handle finds nothing.

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "Platform.h"

namespace wplat {

namespace {

struct Item {
    UINT flags = 0;
    UINT_PTR id = 0;
    std::string text;
    HMENU popup = nullptr;
    HBITMAP checked = nullptr;
    HBITMAP unchecked = nullptr;
};

struct Menu {
    bool popup = false;
    std::vector<Item> items;
};

std::recursive_mutex& g_menuLock = *new std::recursive_mutex;
std::map<uintptr_t, std::shared_ptr<Menu>>& g_menus = *new std::map<uintptr_t, std::shared_ptr<Menu>>;
uintptr_t g_nextMenu = 0x10000;

std::shared_ptr<Menu> find(HMENU menu)
{
    auto it = g_menus.find((uintptr_t)menu);
    return it == g_menus.end() ? nullptr : it->second;
}

HMENU make(bool popup)
{
    std::lock_guard<std::recursive_mutex> guard(g_menuLock);
    auto m = std::make_shared<Menu>();
    m->popup = popup;
    uintptr_t id = (g_nextMenu += 16);
    g_menus[id] = m;
    return (HMENU)id;
}

// The item by position or by command id (searching pop-ups too).
Item* locate(
    HMENU menu, UINT item, UINT flags, std::shared_ptr<Menu>* owner = nullptr, size_t* index = nullptr, int depth = 0)
{
    auto m = find(menu);
    if (!m || depth > 16) return nullptr;
    if ((flags & MF_BYPOSITION) != 0) {
        if (item >= m->items.size()) return nullptr;
        if (owner != nullptr) *owner = m;
        if (index != nullptr) *index = item;
        return &m->items[item];
    }
    for (size_t i = 0; i < m->items.size(); i++) {
        Item& it = m->items[i];
        if ((it.flags & MF_POPUP) == 0 && (it.flags & MF_SEPARATOR) == 0 && it.id == item) {
            if (owner != nullptr) *owner = m;
            if (index != nullptr) *index = i;
            return &it;
        }
        if ((it.flags & MF_POPUP) != 0) {
            Item* inner = locate(it.popup, item, flags, owner, index, depth + 1);
            if (inner != nullptr) return inner;
        }
    }
    return nullptr;
}

// Sets the item's state bits among `bits` as `flags` has them; the previous
// ones, or -1 without such an item.
int exchangeStateBits(HMENU menu, UINT item, UINT flags, UINT bits)
{
    std::lock_guard<std::recursive_mutex> guard(g_menuLock);
    Item* it = locate(menu, item, flags);
    if (it == nullptr) return -1;
    int previous = (int)(it->flags & bits);
    it->flags = (it->flags & ~bits) | (flags & bits);
    return previous;
}

} // namespace

HMENU createMenu()
{
    return make(false);
}

HMENU createPopupMenu()
{
    return make(true);
}

bool destroyMenu(HMENU menu)
{
    std::lock_guard<std::recursive_mutex> guard(g_menuLock);
    auto m = find(menu);
    if (!m) return false;
    g_menus.erase((uintptr_t)menu);
    // Pop-ups still attached go with their menu.
    for (const Item& it : m->items) {
        if ((it.flags & MF_POPUP) != 0) destroyMenu(it.popup);
    }
    return true;
}

bool isMenu(HMENU menu)
{
    std::lock_guard<std::recursive_mutex> guard(g_menuLock);
    return find(menu) != nullptr;
}

bool appendMenu(HMENU menu, UINT flags, UINT_PTR idOrPopup, const char* text)
{
    std::lock_guard<std::recursive_mutex> guard(g_menuLock);
    auto m = find(menu);
    if (!m) return false;
    Item item;
    item.flags = flags;
    if ((flags & MF_POPUP) != 0) {
        if (!find((HMENU)idOrPopup)) return false;
        item.popup = (HMENU)idOrPopup;
    } else {
        item.id = idOrPopup;
    }
    if ((flags & MF_SEPARATOR) == 0) item.text = text != nullptr ? text : "";
    m->items.push_back(item);
    return true;
}

bool removeMenu(HMENU menu, UINT item, UINT flags)
{
    std::lock_guard<std::recursive_mutex> guard(g_menuLock);
    std::shared_ptr<Menu> owner;
    size_t index = 0;
    if (locate(menu, item, flags, &owner, &index) == nullptr) return false;
    owner->items.erase(owner->items.begin() + (long)index);
    return true;
}

bool deleteMenu(HMENU menu, UINT item, UINT flags)
{
    std::lock_guard<std::recursive_mutex> guard(g_menuLock);
    Item* it = locate(menu, item, flags);
    if (it == nullptr) return false;
    HMENU popup = (it->flags & MF_POPUP) != 0 ? it->popup : nullptr;
    removeMenu(menu, item, flags);
    if (popup != nullptr) destroyMenu(popup);
    return true;
}

int enableMenuItem(HMENU menu, UINT item, UINT flags)
{
    return exchangeStateBits(menu, item, flags, MF_GRAYED | MF_DISABLED);
}

int checkMenuItem(HMENU menu, UINT item, UINT flags)
{
    return exchangeStateBits(menu, item, flags, MF_CHECKED);
}

bool setMenuItemBitmaps(HMENU menu, UINT item, UINT flags, HBITMAP unchecked, HBITMAP checked)
{
    std::lock_guard<std::recursive_mutex> guard(g_menuLock);
    Item* it = locate(menu, item, flags);
    if (it == nullptr) return false;
    it->unchecked = unchecked;
    it->checked = checked;
    return true;
}

bool getMenuItemBitmaps(HMENU menu, UINT item, UINT flags, HBITMAP& unchecked, HBITMAP& checked)
{
    std::lock_guard<std::recursive_mutex> guard(g_menuLock);
    Item* it = locate(menu, item, flags);
    if (it == nullptr) return false;
    unchecked = it->unchecked;
    checked = it->checked;
    return true;
}

int getMenuItemCount(HMENU menu)
{
    std::lock_guard<std::recursive_mutex> guard(g_menuLock);
    auto m = find(menu);
    return m ? (int)m->items.size() : -1;
}

UINT getMenuItemID(HMENU menu, int position)
{
    std::lock_guard<std::recursive_mutex> guard(g_menuLock);
    auto m = find(menu);
    if (!m || position < 0 || (size_t)position >= m->items.size() || (m->items[(size_t)position].flags & MF_POPUP) != 0)
        return (UINT)-1;
    return (UINT)m->items[(size_t)position].id;
}

UINT getMenuState(HMENU menu, UINT item, UINT flags)
{
    std::lock_guard<std::recursive_mutex> guard(g_menuLock);
    Item* it = locate(menu, item, flags);
    return it == nullptr ? (UINT)-1 : it->flags;
}

std::string getMenuString(HMENU menu, UINT item, UINT flags)
{
    std::lock_guard<std::recursive_mutex> guard(g_menuLock);
    Item* it = locate(menu, item, flags);
    return it == nullptr ? std::string() : it->text;
}

HMENU getSubMenu(HMENU menu, int position)
{
    std::lock_guard<std::recursive_mutex> guard(g_menuLock);
    auto m = find(menu);
    if (!m || position < 0 || (size_t)position >= m->items.size()) return nullptr;
    const Item& it = m->items[(size_t)position];
    return (it.flags & MF_POPUP) != 0 ? it.popup : nullptr;
}

} // namespace wplat
