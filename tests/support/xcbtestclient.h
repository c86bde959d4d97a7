#pragma once
// A plain xcb client for tests: creates top-level windows on a test display
// and sets the properties a desktop's programs set on theirs.
#include <QByteArray>

#include <xcb/xcb.h>

#include <cstdint>
#include <vector>

namespace lesemund::testing {

class XcbTestClient {
public:
    explicit XcbTestClient(const QByteArray &display);
    ~XcbTestClient();
    XcbTestClient(const XcbTestClient &) = delete;
    XcbTestClient &operator=(const XcbTestClient &) = delete;

    bool ok() const;
    xcb_connection_t *connection() const { return c_; }
    xcb_window_t root() const { return root_; }
    xcb_atom_t atom(const char *name);

    struct Options {
        bool map = true;
        bool overrideRedirect = false;
        bool inputOnly = false;
        xcb_window_t parent = XCB_WINDOW_NONE; // none: the root window
    };
    // A new window with WM_NAME `title` (Latin-1 STRING) unless it is empty.
    xcb_window_t createWindow(const QByteArray &title, const Options &options);
    xcb_window_t createWindow(const QByteArray &title) { return createWindow(title, Options{}); }

    void setProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, uint8_t format,
                     const void *data, uint32_t count);
    void setNetWmName(xcb_window_t window, const QByteArray &utf8Bytes);
    void setWmName(xcb_window_t window, const QByteArray &bytes, const char *type = "STRING");
    void setPid(xcb_window_t window, uint32_t pid);
    void setClientMachine(xcb_window_t window, const QByteArray &host);
    void setWindowType(xcb_window_t window, const std::vector<const char *> &types);
    void setNoDecorations(xcb_window_t window);
    void setWindows(xcb_window_t window, const char *property, const std::vector<xcb_window_t> &windows);
    void deleteProperty(xcb_window_t window, const char *property);

    void raise(xcb_window_t window);
    void map(xcb_window_t window);
    void unmap(xcb_window_t window);
    void destroy(xcb_window_t window);

    // Waits until the server has carried out everything sent so far.
    void sync();

private:
    xcb_connection_t *c_ = nullptr;
    xcb_window_t root_ = XCB_WINDOW_NONE;
};

} // namespace lesemund::testing
