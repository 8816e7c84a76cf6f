#include "xdriver.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <poll.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <map>
#include <sstream>

namespace xdriver {

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

namespace {
// Windows vanish between an event and the question about them; that is no error here.
int ignoreErrors(Display *, XErrorEvent *) { return 0; }
} // namespace

// A top-level window as the events told it, each change with its moment.
struct TopLevel {
    bool shown = false;
    double shownAt = 0;
    long pid = -1; // -1 until the window has one
    std::string title;
    double titleAt = 0;
    bool titleStale = true; // its name changed since it was last read
};

struct Session::Impl {
    Display *dpy = nullptr;
    Window root = 0;
    Atom netWmName = 0, netWmPid = 0, utf8String = 0;
    std::map<Window, TopLevel> windows;

    void watch(Window w, double at)
    {
        XSelectInput(dpy, w, PropertyChangeMask | StructureNotifyMask);
        XWindowAttributes a{};
        TopLevel &t = windows[w];
        t.shown = XGetWindowAttributes(dpy, w, &a) && a.map_state == IsViewable;
        t.shownAt = t.titleAt = at;
        t.pid = pidOf(w);
    }

    long pidOf(Window w)
    {
        Atom type = 0;
        int format = 0;
        unsigned long n = 0, left = 0;
        unsigned char *data = nullptr;
        long pid = -1;
        if (XGetWindowProperty(dpy, w, netWmPid, 0, 1, False, XA_CARDINAL, &type, &format, &n, &left,
                               &data) == Success &&
            data && n == 1 && format == 32)
            pid = static_cast<long>(*reinterpret_cast<unsigned long *>(data));
        if (data)
            XFree(data);
        return pid;
    }

    std::string titleOf(Window w)
    {
        Atom type = 0;
        int format = 0;
        unsigned long n = 0, left = 0;
        unsigned char *data = nullptr;
        std::string title;
        if (XGetWindowProperty(dpy, w, netWmName, 0, 4096, False, utf8String, &type, &format, &n, &left,
                               &data) == Success &&
            data && format == 8) {
            title.assign(reinterpret_cast<char *>(data), n);
        } else {
            char *name = nullptr;
            if (XFetchName(dpy, w, &name) && name) {
                title = name;
                XFree(name);
            }
        }
        if (data)
            XFree(data);
        return title;
    }

    // The title as it is now; read from the server only after it changed.
    const std::string &title(Window w, TopLevel &t)
    {
        if (t.titleStale) {
            t.title = titleOf(w);
            t.titleStale = false;
        }
        return t.title;
    }

    // When the server made a change: its own timestamp (milliseconds of the
    // monotonic clock, which Xvfb keeps too) where the event carries one,
    // else the moment the event was read. Either way, a backlog of events
    // being worked through does not make a change look later than it was.
    static double momentOf(Time server, double read)
    {
        const auto readMs = static_cast<unsigned long long>(read * 1000);
        const auto behind = static_cast<std::int32_t>(static_cast<std::uint32_t>(readMs) -
                                                      static_cast<std::uint32_t>(server));
        return server != CurrentTime && behind >= 0 && behind < 5000 ? read - behind / 1000.0 : read;
    }

    // Takes in every event the server has sent, waiting until `deadline`
    // for the first; false on timeout. Only cheap bookkeeping happens per
    // event: names are read when a wait asks for them.
    bool takeEvents(double deadline)
    {
        while (!XPending(dpy)) {
            const double left = deadline - now();
            if (left <= 0)
                return false;
            pollfd fd{ConnectionNumber(dpy), POLLIN, 0};
            poll(&fd, 1, static_cast<int>(std::ceil(left * 1000)));
        }
        while (XPending(dpy)) {
            XEvent e;
            XNextEvent(dpy, &e);
            const double read = now();
            switch (e.type) {
            case CreateNotify:
                if (e.xcreatewindow.parent == root)
                    watch(e.xcreatewindow.window, read);
                break;
            case MapNotify:
                if (const auto it = windows.find(e.xmap.window);
                    e.xmap.event == root && it != windows.end()) {
                    it->second.shown = true;
                    it->second.shownAt = read; // MapNotify carries no timestamp
                }
                break;
            case UnmapNotify:
                if (const auto it = windows.find(e.xunmap.window);
                    e.xunmap.event == root && it != windows.end())
                    it->second.shown = false;
                break;
            case DestroyNotify:
                if (e.xdestroywindow.event == root)
                    windows.erase(e.xdestroywindow.window);
                break;
            case PropertyNotify: {
                const auto it = windows.find(e.xproperty.window);
                if (it == windows.end())
                    break;
                if (e.xproperty.atom == netWmName || e.xproperty.atom == XA_WM_NAME) {
                    it->second.titleStale = true;
                    it->second.titleAt = momentOf(e.xproperty.time, read);
                } else if (e.xproperty.atom == netWmPid) {
                    it->second.pid = pidOf(e.xproperty.window);
                }
                break;
            }
            default: break;
            }
        }
        return true;
    }

    void send(KeySym sym, bool press)
    {
        const KeyCode code = XKeysymToKeycode(dpy, sym);
        if (code)
            XTestFakeKeyEvent(dpy, code, press, CurrentTime);
    }

    // Presses (or releases) a key and the Shift it needs for `sym`.
    void sendWithShift(KeySym sym, bool press)
    {
        const KeyCode code = XKeysymToKeycode(dpy, sym);
        const bool shift = code && XkbKeycodeToKeysym(dpy, code, 0, 0) != sym;
        if (shift && press)
            send(XK_Shift_L, true);
        send(sym, press);
        if (shift && !press)
            send(XK_Shift_L, false);
    }
};

Session::Session(std::unique_ptr<Impl> impl) : d(std::move(impl)) {}

Session::~Session()
{
    if (d && d->dpy)
        XCloseDisplay(d->dpy);
}

std::unique_ptr<Session> Session::open()
{
    auto impl = std::make_unique<Impl>();
    impl->dpy = XOpenDisplay(nullptr);
    if (!impl->dpy)
        return nullptr;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(impl->dpy, &event, &error, &major, &minor)) {
        XCloseDisplay(impl->dpy);
        return nullptr;
    }
    XSetErrorHandler(ignoreErrors);
    impl->root = DefaultRootWindow(impl->dpy);
    impl->netWmName = XInternAtom(impl->dpy, "_NET_WM_NAME", False);
    impl->netWmPid = XInternAtom(impl->dpy, "_NET_WM_PID", False);
    impl->utf8String = XInternAtom(impl->dpy, "UTF8_STRING", False);
    XSelectInput(impl->dpy, impl->root, SubstructureNotifyMask);
    Window rootReturn = 0, parent = 0, *children = nullptr;
    unsigned int n = 0;
    if (XQueryTree(impl->dpy, impl->root, &rootReturn, &parent, &children, &n)) {
        for (unsigned int i = 0; i < n; ++i)
            impl->watch(children[i], now());
        XFree(children);
    }
    XSync(impl->dpy, False);
    return std::unique_ptr<Session>(new Session(std::move(impl)));
}

unsigned long Session::waitWindow(int pid, const TitleTest &test, double timeout, double *at)
{
    const double deadline = now() + timeout;
    for (;;) {
        for (auto &[w, t] : d->windows) {
            if (t.shown && t.pid == pid && test(d->title(w, t))) {
                // True since the later of the two changes: shown, and so named.
                if (at)
                    *at = std::max(t.shownAt, t.titleAt);
                return w;
            }
        }
        if (!d->takeEvents(deadline))
            return 0;
    }
}

double Session::waitTitle(unsigned long window, const TitleTest &test, double timeout)
{
    const double deadline = now() + timeout;
    for (;;) {
        const auto it = d->windows.find(window);
        if (it != d->windows.end() && test(d->title(window, it->second)))
            return it->second.titleAt;
        if (!d->takeEvents(deadline))
            return -1;
    }
}

std::string Session::title(unsigned long window) { return d->titleOf(window); }

void Session::focus(unsigned long window)
{
    // No window manager runs under plain Xvfb: give the focus ourselves.
    XSetInputFocus(d->dpy, window, RevertToPointerRoot, CurrentTime);
    XSync(d->dpy, False);
}

double Session::key(const std::string &combination)
{
    std::vector<KeySym> modifiers;
    std::string part;
    std::istringstream in(combination);
    KeySym sym = NoSymbol;
    while (std::getline(in, part, '+')) {
        if (in.eof()) {
            sym = XStringToKeysym(part.c_str());
        } else if (part == "ctrl") {
            modifiers.push_back(XK_Control_L);
        } else if (part == "shift") {
            modifiers.push_back(XK_Shift_L);
        } else if (part == "alt") {
            modifiers.push_back(XK_Alt_L);
        }
    }
    for (const KeySym m : modifiers)
        d->send(m, true);
    XSync(d->dpy, False);
    const double at = now();
    d->sendWithShift(sym, true);
    d->sendWithShift(sym, false);
    for (auto m = modifiers.rbegin(); m != modifiers.rend(); ++m)
        d->send(*m, false);
    XFlush(d->dpy);
    return at;
}

void Session::type(const std::string &text)
{
    for (const char c : text) {
        // Printable ASCII characters are their own keysyms.
        const auto sym = static_cast<KeySym>(static_cast<unsigned char>(c));
        d->sendWithShift(sym, true);
        d->sendWithShift(sym, false);
        XSync(d->dpy, False);
    }
}

} // namespace xdriver
