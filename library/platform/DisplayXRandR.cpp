// The default display provider: outputs, modes and mode changes from the X
// server's RandR extension. Without a display (console program, CI) it
// lists nothing; X errors are caught instead of ending the process.

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "DisplayProvider.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace wplat {

namespace {

std::mutex g_xLock;
int g_xErrors = 0;

int countError(Display*, XErrorEvent*)
{
    g_xErrors++;
    return 0;
}

// One connection per call; closed on every path.
class Connection {
public:
    Connection()
    {
        const char* name = getenv("DISPLAY");
        if (name == nullptr || name[0] == '\0') return;
        // A server whose last client just left resets and refuses
        // connections for a moment: a few tries, briefly.
        for (int attempt = 0; attempt < 10 && display == nullptr; attempt++) {
            display = XOpenDisplay(nullptr);
            if (display == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (display == nullptr) return;
        int event = 0, error = 0;
        if (!XRRQueryExtension(display, &event, &error)) {
            XCloseDisplay(display);
            display = nullptr;
            return;
        }
        previous = XSetErrorHandler(countError);
        root = DefaultRootWindow(display);
        // The cheap query answers from what the server knows. On a server
        // nobody has probed yet (a fresh Xvfb) that is nothing at all: then
        // the server is asked to probe.
        resources = XRRGetScreenResourcesCurrent(display, root);
        if (resources == nullptr || !usable(resources)) {
            if (resources != nullptr) XRRFreeScreenResources(resources);
            resources = XRRGetScreenResources(display, root);
        }
    }
    ~Connection()
    {
        if (resources != nullptr) XRRFreeScreenResources(resources);
        if (display != nullptr) {
            XSync(display, False);
            XSetErrorHandler(previous);
            XCloseDisplay(display);
        }
    }
    bool ok() const { return display != nullptr && resources != nullptr; }

    // Some connected output shows a mode the resources list.
    bool usable(XRRScreenResources* r) const
    {
        if (r->noutput == 0 || r->nmode == 0) return false;
        bool found = false;
        for (int i = 0; i < r->noutput && !found; i++) {
            XRROutputInfo* info = XRRGetOutputInfo(display, r, r->outputs[i]);
            if (info == nullptr) continue;
            if (info->connection == RR_Connected && info->crtc != 0 && info->nmode > 0) {
                XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, r, info->crtc);
                if (crtc != nullptr) {
                    for (int m = 0; m < r->nmode && !found; m++)
                        found = r->modes[m].id == crtc->mode;
                    XRRFreeCrtcInfo(crtc);
                }
            }
            XRRFreeOutputInfo(info);
        }
        return found;
    }

    Display* display = nullptr;
    ::Window root = 0;
    XRRScreenResources* resources = nullptr;
    int (*previous)(Display*, XErrorEvent*) = nullptr;
};

GUID guidOf(const std::string& name)
{
    // A stable identifier made from the output's name (FNV-1a, twice).
    uint64_t a = 1469598103934665603ull, b = 1099511628211ull ^ 0x9E3779B97F4A7C15ull;
    for (unsigned char c : name) {
        a = (a ^ c) * 1099511628211ull;
        b = (b ^ c) * 1469598103934665603ull;
    }
    GUID g;
    g.Data1 = (uint32_t)(a >> 32);
    g.Data2 = (uint16_t)(a >> 16);
    g.Data3 = (uint16_t)a;
    for (int i = 0; i < 8; i++)
        g.Data4[i] = (uint8_t)(b >> (i * 8));
    return g;
}

uint32_t bitsPerPixel(Display* display)
{
    int depth = DefaultDepth(display, DefaultScreen(display));
    return depth == 24 ? 32u : (uint32_t)depth;
}

uint32_t refreshOf(const XRRModeInfo& m)
{
    if (m.hTotal == 0 || m.vTotal == 0) return 0;
    return (uint32_t)std::lround((double)m.dotClock / ((double)m.hTotal * (double)m.vTotal));
}

const XRRModeInfo* modeInfo(XRRScreenResources* r, RRMode id)
{
    for (int i = 0; i < r->nmode; i++) {
        if (r->modes[i].id == id) return &r->modes[i];
    }
    return nullptr;
}

// The connected output of that name (empty: the primary, else the first).
RROutput findOutput(Connection& c, const std::string& name)
{
    RROutput primary = XRRGetOutputPrimary(c.display, c.root);
    RROutput first = 0;
    for (int i = 0; i < c.resources->noutput; i++) {
        XRROutputInfo* info = XRRGetOutputInfo(c.display, c.resources, c.resources->outputs[i]);
        if (info == nullptr) continue;
        bool usable = info->connection == RR_Connected && info->crtc != 0;
        bool match = usable && (name.empty() ? c.resources->outputs[i] == primary : name == info->name);
        XRRFreeOutputInfo(info);
        if (match) return c.resources->outputs[i];
        if (usable && first == 0) first = c.resources->outputs[i];
    }
    return name.empty() ? first : 0;
}

class XRandRProvider : public DisplayProvider {
public:
    void devices(std::vector<DisplayDeviceInfo>& out) override
    {
        out.clear();
        std::lock_guard<std::mutex> guard(g_xLock);
        Connection c;
        if (!c.ok()) return;
        RROutput primary = XRRGetOutputPrimary(c.display, c.root);
        for (int i = 0; i < c.resources->noutput; i++) {
            XRROutputInfo* info = XRRGetOutputInfo(c.display, c.resources, c.resources->outputs[i]);
            if (info == nullptr) continue;
            if (info->connection == RR_Connected && info->crtc != 0) {
                XRRCrtcInfo* crtc = XRRGetCrtcInfo(c.display, c.resources, info->crtc);
                DisplayDeviceInfo d;
                d.name = info->name;
                d.description = info->name;
                d.primary = c.resources->outputs[i] == primary;
                if (crtc != nullptr) {
                    d.hasMonitor = true;
                    d.monitorArea = RECT {crtc->x, crtc->y, crtc->x + (int)crtc->width, crtc->y + (int)crtc->height};
                    d.workArea = d.monitorArea;
                    XRRFreeCrtcInfo(crtc);
                }
                d.hasGuid = true;
                d.guid = guidOf(d.name);
                out.push_back(d);
            }
            XRRFreeOutputInfo(info);
        }
        bool anyPrimary = false;
        for (const auto& d : out)
            anyPrimary = anyPrimary || d.primary;
        if (!anyPrimary && !out.empty()) out.front().primary = true;
    }

    bool currentMode(const std::string& device, DisplayModeInfo& mode) override
    {
        std::lock_guard<std::mutex> guard(g_xLock);
        Connection c;
        if (!c.ok()) return false;
        RROutput output = findOutput(c, device);
        if (output == 0) return false;
        XRROutputInfo* info = XRRGetOutputInfo(c.display, c.resources, output);
        XRRCrtcInfo* crtc = info != nullptr ? XRRGetCrtcInfo(c.display, c.resources, info->crtc) : nullptr;
        bool ok = false;
        if (crtc != nullptr) {
            const XRRModeInfo* m = modeInfo(c.resources, crtc->mode);
            mode.width = crtc->width;
            mode.height = crtc->height;
            mode.bitsPerPixel = bitsPerPixel(c.display);
            mode.frequency = m != nullptr ? refreshOf(*m) : 0;
            ok = true;
            XRRFreeCrtcInfo(crtc);
        }
        if (info != nullptr) XRRFreeOutputInfo(info);
        return ok;
    }

    bool modes(const std::string& device, std::vector<DisplayModeInfo>& out) override
    {
        out.clear();
        std::lock_guard<std::mutex> guard(g_xLock);
        Connection c;
        if (!c.ok()) return false;
        RROutput output = findOutput(c, device);
        XRROutputInfo* info = output != 0 ? XRRGetOutputInfo(c.display, c.resources, output) : nullptr;
        if (info == nullptr) return false;
        for (int i = 0; i < info->nmode; i++) {
            const XRRModeInfo* m = modeInfo(c.resources, info->modes[i]);
            if (m != nullptr)
                out.push_back(DisplayModeInfo {m->width, m->height, bitsPerPixel(c.display), refreshOf(*m)});
        }
        XRRFreeOutputInfo(info);
        return true;
    }

    bool setMode(const std::string& device, const DisplayModeInfo& mode) override
    {
        std::lock_guard<std::mutex> guard(g_xLock);
        Connection c;
        if (!c.ok()) return false;
        RROutput output = findOutput(c, device);
        XRROutputInfo* info = output != 0 ? XRRGetOutputInfo(c.display, c.resources, output) : nullptr;
        if (info == nullptr) return false;
        RRMode chosen = 0;
        for (int i = 0; i < info->nmode && chosen == 0; i++) {
            const XRRModeInfo* m = modeInfo(c.resources, info->modes[i]);
            if (m != nullptr && m->width == mode.width && m->height == mode.height
                && (mode.frequency == 0 || refreshOf(*m) == mode.frequency))
                chosen = m->id;
        }
        bool ok = false;
        XRRCrtcInfo* crtc = chosen != 0 ? XRRGetCrtcInfo(c.display, c.resources, info->crtc) : nullptr;
        if (crtc != nullptr) {
            g_xErrors = 0;
            Status s = XRRSetCrtcConfig(
                c.display, c.resources, info->crtc, CurrentTime, crtc->x, crtc->y, chosen, crtc->rotation, &output, 1);
            XSync(c.display, False);
            ok = s == RRSetConfigSuccess && g_xErrors == 0;
            XRRFreeCrtcInfo(crtc);
        }
        XRRFreeOutputInfo(info);
        return ok;
    }
};

std::mutex g_providerLock;
std::shared_ptr<DisplayProvider> g_provider;

} // namespace

DisplayProvider& displayProvider()
{
    std::lock_guard<std::mutex> guard(g_providerLock);
    if (!g_provider) g_provider = std::make_shared<XRandRProvider>();
    return *g_provider;
}

void setDisplayProvider(std::shared_ptr<DisplayProvider> provider)
{
    std::lock_guard<std::mutex> guard(g_providerLock);
    g_provider = std::move(provider);
}

} // namespace wplat
