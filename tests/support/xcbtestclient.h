#pragma once
// A plain xcb client that makes top-level windows on a test display and sets
// the properties a desktop's programs set on theirs.
#include <QByteArray>

#include <cstdlib>
#include <vector>
#include <xcb/xcb.h>

namespace lesemund::testing {

struct XcbTestClient {
    explicit XcbTestClient(const QByteArray &display) : c(xcb_connect(display, nullptr)) {
        if (!xcb_connection_has_error(c))
            root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    }
    ~XcbTestClient() { xcb_disconnect(c); }
    bool ok() const { return root; }
    xcb_atom_t atom(const QByteArray &name) {
        auto *reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, name.size(), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : 0;
        free(reply);
        return a;
    }
    enum Kind { Mapped, Unmapped, OverrideRedirect, InputOnly };
    // A new window with WM_NAME `title` (STRING) unless it is empty.
    xcb_window_t createWindow(const QByteArray &title = {}, Kind kind = Mapped) {
        const xcb_window_t w = xcb_generate_id(c);
        const uint32_t overrideRedirect = kind == OverrideRedirect;
        const bool io = kind != InputOnly;
        xcb_create_window(c, io ? XCB_COPY_FROM_PARENT : 0, w, root, 10, 10, 200, 100, io,
                          io ? XCB_WINDOW_CLASS_INPUT_OUTPUT : XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
        if (kind != Unmapped)
            xcb_map_window(c, w);
        set(w, "WM_NAME", "STRING", title);
        return w;
    }
    // Sets a property of bytes, or of 32-bit items (ids, atoms, numbers).
    void set(xcb_window_t w, const char *property, const char *type, const QByteArray &bytes) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(property), atom(type), 8, bytes.size(), bytes.data());
        sync();
    }
    void set(xcb_window_t w, const char *property, const char *type, const std::vector<uint32_t> &items) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(property), atom(type), 32, items.size(), items.data());
        sync();
    }
    void setNetWmName(xcb_window_t w, const QByteArray &utf8) { set(w, "_NET_WM_NAME", "UTF8_STRING", utf8); }
    void setPid(xcb_window_t w, uint32_t pid) { set(w, "_NET_WM_PID", "CARDINAL", {pid}); }
    // Waits until the server has carried out everything sent so far.
    void sync() { free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }

    xcb_connection_t *c;
    xcb_window_t root = 0;
};

} // namespace lesemund::testing
