#include "tests/support/x_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

#include "tests/support/child_process.h"

namespace vardel::test {

namespace {

struct DisplayCloser {
    void operator()(Display* d) const {
        if (d) XCloseDisplay(d);
    }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// A failed request on a window that went away meanwhile must not end the test.
int ignore_x_errors(Display*, XErrorEvent*) {
    return 0;
}

DisplayPtr open_display(const std::string& name) {
    XSetErrorHandler(ignore_x_errors);
    return DisplayPtr(XOpenDisplay(name.c_str()));
}

std::string caption_of(Display* d, Window w) {
    Atom net_name = XInternAtom(d, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(d, w, net_name, 0, 1024, False, utf8, &type, &format, &count, &after,
                           &data) == Success &&
        data) {
        text.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
        return text;
    }
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) {
        text = name;
        XFree(name);
    }
    return text;
}

// Walks the tree below the root; fn returns true to stop.
void for_each_shown(Display* d, Window w, const std::function<bool(Window)>& fn, bool& stop) {
    Window root, parent, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &n)) return;
    for (unsigned int i = 0; i < n && !stop; ++i) {
        XWindowAttributes attrs;
        if (XGetWindowAttributes(d, children[i], &attrs) && attrs.map_state == IsViewable) {
            if (fn(children[i])) stop = true;
        }
        if (!stop) for_each_shown(d, children[i], fn, stop);
    }
    if (children) XFree(children);
}

}  // namespace

XDisplay::XDisplay() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    server_ = fork();
    if (server_ < 0) throw std::runtime_error("fork failed");
    if (server_ == 0) {
        // -displayfd: the server picks a free display and writes its number.
        std::string fd = std::to_string(fds[1]);
        fcntl(fds[1], F_SETFD, 0);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x720x24", "-nolisten",
               "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
        kill(server_, SIGKILL);
        waitpid(server_, nullptr, 0);
        throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)");
    }
    name_ = ":" + number;
}

XDisplay::~XDisplay() {
    if (server_ > 0) {
        kill(server_, SIGTERM);
        waitpid(server_, nullptr, 0);
    }
}

std::vector<std::string> XDisplay::environment() const {
    return {"DISPLAY=" + name_, "QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY"};
}

unsigned long XDisplay::wait_for_window(const std::string& caption,
                                        std::chrono::milliseconds timeout, bool prefix) const {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
        DisplayPtr d = open_display(name_);
        if (d) {
            Window found = 0;
            bool stop = false;
            for_each_shown(
                d.get(), DefaultRootWindow(d.get()),
                [&](Window w) {
                    std::string text = caption_of(d.get(), w);
                    if (text == caption || (prefix && text.rfind(caption, 0) == 0)) found = w;
                    return found != 0;
                },
                stop);
            if (found) return found;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < deadline);
    return 0;
}

bool XDisplay::window_shown(unsigned long window) const {
    DisplayPtr d = open_display(name_);
    if (!d) return false;
    XWindowAttributes attrs;
    return XGetWindowAttributes(d.get(), window, &attrs) && attrs.map_state == IsViewable;
}

std::optional<XDisplay::Box> XDisplay::window_box(unsigned long window) const {
    DisplayPtr d = open_display(name_);
    XWindowAttributes attrs;
    if (!d || !XGetWindowAttributes(d.get(), window, &attrs) || attrs.map_state != IsViewable)
        return std::nullopt;
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(d.get(), window, DefaultRootWindow(d.get()), 0, 0, &x, &y, &child);
    return Box{x, y, attrs.width, attrs.height};
}

std::vector<std::string> XDisplay::captions() const {
    std::vector<std::string> out;
    DisplayPtr d = open_display(name_);
    if (!d) return out;
    bool stop = false;
    for_each_shown(
        d.get(), DefaultRootWindow(d.get()),
        [&](Window w) {
            std::string text = caption_of(d.get(), w);
            if (!text.empty()) out.push_back(text);
            return false;
        },
        stop);
    return out;
}

bool XDisplay::close_window(unsigned long window) const {
    DisplayPtr d = open_display(name_);
    if (!d) return false;
    XEvent ev;
    std::memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = window;
    ev.xclient.message_type = XInternAtom(d.get(), "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d.get(), "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    Status ok = XSendEvent(d.get(), window, False, NoEventMask, &ev);
    XFlush(d.get());
    return ok != 0;
}

std::string XDisplay::show_and_close(const std::vector<std::string>& argv,
                                     const std::string& caption,
                                     const std::vector<std::string>& env) const {
    std::vector<std::string> all = environment();
    all.insert(all.end(), env.begin(), env.end());
    BackgroundProcess p(argv, all);
    unsigned long w = wait_for_window(caption);
    if (w == 0) {
        std::string seen;
        for (const std::string& c : captions()) seen += " \"" + c + "\"";
        return "no window \"" + caption + "\" appeared; windows:" + seen;
    }
    if (!close_window(w)) return "could not ask the window to close";
    int code = p.wait();
    return code == 0 ? std::string() : "the program ended with " + std::to_string(code);
}

}  // namespace vardel::test
