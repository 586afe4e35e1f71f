#pragma once
// A window manager's two questions to a window, asked on a virtual display:
// "are you there?" (_NET_WM_PING, answered to the root window) and "close,
// please" (WM_DELETE_WINDOW). The few X calls are loaded at run time, so the
// tests need no X library or header at build time (the header's macros
// clash with gtest).
#include <dlfcn.h>

#include <chrono>
#include <string>
#include <thread>

namespace test_support {

class XClient {
public:
    // Connects to Display; Ok() tells whether it did.
    explicit XClient(const std::string& Display) {
        if (handle_ && load()) display_ = open_(Display.c_str());
    }
    ~XClient() {
        if (display_) close_(display_);
        if (handle_) dlclose(handle_);
    }
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    bool Ok() const { return display_ != nullptr; }

    // Asks Window to close as a window manager does.
    bool RequestClose(unsigned long Window) {
        return Ok() && Send(Window, atom_(display_, "WM_DELETE_WINDOW", 0), 0);
    }

    // Pings Window and waits up to Limit for its answer.
    bool Ping(unsigned long Window, std::chrono::milliseconds Limit) {
        if (!Ok()) return false;
        const unsigned long ping = atom_(display_, "_NET_WM_PING", 0);
        // The answer goes to the root window, to those who listen for its
        // structure changes.
        select_(display_, root_(display_), kStructureNotifyMask);
        const long stamp = ++stamp_;
        if (!Send(Window, ping, stamp)) return false;
        const auto end = std::chrono::steady_clock::now() + Limit;
        while (std::chrono::steady_clock::now() < end) {
            while (pending_(display_) > 0) {
                Event e{};
                next_(display_, &e);
                if (e.client.type == kClientMessage && static_cast<unsigned long>(e.client.data[0]) == ping &&
                    e.client.data[1] == stamp)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

private:
    // The client-message member of the X event union (which is 24 longs).
    struct ClientMessage {
        int type;
        unsigned long serial;
        int send_event;
        void* display;
        unsigned long window;
        unsigned long message_type;
        int format;
        long data[5];
    };
    union Event {
        ClientMessage client;
        long pad[24];
    };
    static constexpr int kClientMessage = 33;
    static constexpr long kStructureNotifyMask = 1L << 17;

    bool load() {
        open_ = reinterpret_cast<void* (*)(const char*)>(dlsym(handle_, "XOpenDisplay"));
        close_ = reinterpret_cast<int (*)(void*)>(dlsym(handle_, "XCloseDisplay"));
        atom_ = reinterpret_cast<unsigned long (*)(void*, const char*, int)>(dlsym(handle_, "XInternAtom"));
        send_ = reinterpret_cast<int (*)(void*, unsigned long, int, long, void*)>(dlsym(handle_, "XSendEvent"));
        flush_ = reinterpret_cast<int (*)(void*)>(dlsym(handle_, "XFlush"));
        root_ = reinterpret_cast<unsigned long (*)(void*)>(dlsym(handle_, "XDefaultRootWindow"));
        select_ = reinterpret_cast<int (*)(void*, unsigned long, long)>(dlsym(handle_, "XSelectInput"));
        pending_ = reinterpret_cast<int (*)(void*)>(dlsym(handle_, "XPending"));
        next_ = reinterpret_cast<int (*)(void*, void*)>(dlsym(handle_, "XNextEvent"));
        return open_ && close_ && atom_ && send_ && flush_ && root_ && select_ && pending_ && next_;
    }

    // Sends the WM_PROTOCOLS message Protocol to Window.
    bool Send(unsigned long Window, unsigned long Protocol, long Stamp) {
        Event e{};
        e.client.type = kClientMessage;
        e.client.window = Window;
        e.client.message_type = atom_(display_, "WM_PROTOCOLS", 0);
        e.client.format = 32;
        e.client.data[0] = static_cast<long>(Protocol);
        e.client.data[1] = Stamp;  // CurrentTime (0) for a close
        e.client.data[2] = static_cast<long>(Window);
        const bool sent = send_(display_, Window, 0, 0, &e) != 0;
        flush_(display_);
        return sent;
    }

    void* handle_ = dlopen("libX11.so.6", RTLD_NOW);
    void* display_ = nullptr;
    long stamp_ = 1000;
    void* (*open_)(const char*) = nullptr;
    int (*close_)(void*) = nullptr;
    unsigned long (*atom_)(void*, const char*, int) = nullptr;
    int (*send_)(void*, unsigned long, int, long, void*) = nullptr;
    int (*flush_)(void*) = nullptr;
    unsigned long (*root_)(void*) = nullptr;
    int (*select_)(void*, unsigned long, long) = nullptr;
    int (*pending_)(void*) = nullptr;
    int (*next_)(void*, void*) = nullptr;
};

}  // namespace test_support
