// The graphics window's objects: named per application, listed on slides.
// The window owns every object handed to it.
#include "W2DGraphicsWindow.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "Platform.h"

void W2DGraphicsWindow::invalidateObject(const W2DObject* object)
{
    if (object == nullptr || object->isAnimationObject() || getWindowHandle() == nullptr) return;
    RECT box;
    object->getRegion().getBoundingBox(box);
    wplat::invalidateRect(getWindowHandle(), &box, false);
}

void W2DGraphicsWindow::dropFromCursors(const W2DObject* object)
{
    for (auto& c : cursors) {
        if (c->under == object) c->under = nullptr;
        if (c->connected == object) c->connected = nullptr;
    }
}

void W2DGraphicsWindow::removeFromSlides(const std::string& key, const Entry& entry)
{
    for (unsigned char s : entry.slides) {
        Slide& table = slideTable(entry.application, s);
        table.erase(
            std::remove_if(table.begin(), table.end(), [&](const auto& p) { return p.first == key; }), table.end());
    }
}

void W2DGraphicsWindow::addObject(
    const char* slideList, const WString& objectName, const W2DObject* constObject, bool show)
{
    Lock guard(frameLock);
    if (slidesPerApp == 0 || constObject == nullptr) return;
    W2DObject* object = const_cast<W2DObject*>(constObject);
    std::vector<unsigned char> chosen;
    if (slideList != nullptr && *slideList != '\0') {
        const char* p = slideList;
        while (*p != '\0' && chosen.size() < slidesPerApp) {
            const int n = std::atoi(p);
            // Slide numbers outside 1..slides are refused.
            if (n >= 1 && unsigned(n) <= slidesPerApp
                && std::find(chosen.begin(), chosen.end(), (unsigned char)(n - 1)) == chosen.end())
                chosen.push_back((unsigned char)(n - 1));
            const char* comma = std::strchr(p, ',');
            if (comma == nullptr) break;
            p = comma + 1;
        }
    } else {
        for (unsigned long s = 0; s < slidesPerApp; ++s)
            chosen.push_back((unsigned char)s);
    }
    const std::string key(objectName.getBuf());
    auto& directory = directories[currentApp];
    auto old = directory.find(key);
    if (old != directory.end()) {
        // The name's old object leaves the slides the new list does not name;
        // a different object is deleted.
        Entry& previous = old->second;
        for (unsigned char s : previous.slides)
            if (std::find(chosen.begin(), chosen.end(), s) == chosen.end()) {
                Slide& table = slideTable(previous.application, s);
                table.erase(std::remove_if(table.begin(), table.end(), [&](const auto& p) { return p.first == key; }),
                    table.end());
            }
        if (previous.object.get() != object) dropFromCursors(previous.object.get());
    }
    for (unsigned char s : chosen) {
        Slide& table = slideTable(currentApp, s);
        auto it = std::find_if(table.begin(), table.end(), [&](const auto& p) { return p.first == key; });
        if (it != table.end())
            it->second = object;
        else
            table.emplace_back(key, object);
    }
    Entry& entry = directory[key];
    if (entry.object.get() != object) entry.object.reset(object); // deletes a different object the name had
    entry.application = currentApp;
    entry.slides = chosen;
    if (show) invalidateObject(object);
}

void W2DGraphicsWindow::removeObject(const WString& objectName)
{
    Lock guard(frameLock);
    if (directories.empty()) return;
    auto& directory = directories[currentApp];
    auto it = directory.find(objectName.getBuf());
    if (it == directory.end()) return;
    dropFromCursors(it->second.object.get());
    removeFromSlides(it->first, it->second);
    directory.erase(it);
}

void W2DGraphicsWindow::removeAllObjects()
{
    Lock guard(frameLock);
    if (directories.empty()) return;
    for (unsigned long s = 0; s < slidesPerApp; ++s)
        slideTable(currentApp, s).clear();
    for (auto& [key, entry] : directories[currentApp])
        dropFromCursors(entry.object.get());
    directories[currentApp].clear();
}

void W2DGraphicsWindow::removeAllObjects(const WString& prefix)
{
    Lock guard(frameLock);
    if (directories.empty()) return;
    auto& directory = directories[currentApp];
    for (auto it = directory.begin(); it != directory.end();) {
        if (it->first.compare(0, prefix.length(), prefix.getBuf()) == 0) {
            dropFromCursors(it->second.object.get());
            removeFromSlides(it->first, it->second);
            it = directory.erase(it);
        } else {
            ++it;
        }
    }
}

void W2DGraphicsWindow::showObject(const W2DObject* object)
{
    invalidateObject(object);
}

void W2DGraphicsWindow::showAllObjects()
{
    if (getWindowHandle() != nullptr) wplat::invalidateRect(getWindowHandle(), nullptr, false);
}
