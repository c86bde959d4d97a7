#include "support/xcbtestclient.h"

#include <cstdlib>
#include <cstring>

namespace lesemund::testing {

XcbTestClient::XcbTestClient(const QByteArray &display) {
    int screen = 0;
    c_ = xcb_connect(display.constData(), &screen);
    if (xcb_connection_has_error(c_))
        return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c_));
    for (int i = 0; i < screen && it.rem > 0; ++i)
        xcb_screen_next(&it);
    if (it.rem > 0)
        root_ = it.data->root;
}

XcbTestClient::~XcbTestClient() {
    if (c_)
        xcb_disconnect(c_);
}

bool XcbTestClient::ok() const { return c_ && !xcb_connection_has_error(c_) && root_ != XCB_WINDOW_NONE; }

xcb_atom_t XcbTestClient::atom(const char *name) {
    auto cookie = xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(c_, cookie, nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

xcb_window_t XcbTestClient::createWindow(const QByteArray &title, const Options &options) {
    const xcb_window_t window = xcb_generate_id(c_);
    const uint32_t mask = XCB_CW_OVERRIDE_REDIRECT;
    const uint32_t values[] = {options.overrideRedirect ? 1u : 0u};
    const xcb_window_t parent = options.parent == XCB_WINDOW_NONE ? root_ : options.parent;
    if (options.inputOnly)
        xcb_create_window(c_, 0, window, parent, 10, 10, 200, 100, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, mask, values);
    else
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, parent, 10, 10, 200, 100, 1,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, mask, values);
    if (!title.isEmpty())
        setWmName(window, title);
    if (options.map)
        xcb_map_window(c_, window);
    sync();
    return window;
}

void XcbTestClient::setProperty(xcb_window_t window, xcb_atom_t property, xcb_atom_t type, uint8_t format,
                                const void *data, uint32_t count) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, property, type, format, count, data);
    sync();
}

void XcbTestClient::setNetWmName(xcb_window_t window, const QByteArray &utf8Bytes) {
    setProperty(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, utf8Bytes.constData(),
                static_cast<uint32_t>(utf8Bytes.size()));
}

void XcbTestClient::setWmName(xcb_window_t window, const QByteArray &bytes, const char *type) {
    setProperty(window, XCB_ATOM_WM_NAME, atom(type), 8, bytes.constData(), static_cast<uint32_t>(bytes.size()));
}

void XcbTestClient::setPid(xcb_window_t window, uint32_t pid) {
    setProperty(window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, &pid, 1);
}

void XcbTestClient::setClientMachine(xcb_window_t window, const QByteArray &host) {
    setProperty(window, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 8, host.constData(),
                static_cast<uint32_t>(host.size()));
}

void XcbTestClient::setWindowType(xcb_window_t window, const std::vector<const char *> &types) {
    std::vector<xcb_atom_t> atoms;
    for (const char *t : types)
        atoms.push_back(atom(t));
    setProperty(window, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, atoms.data(),
                static_cast<uint32_t>(atoms.size()));
}

void XcbTestClient::setNoDecorations(xcb_window_t window) {
    // flags (decorations valid), functions, decorations, input mode, status
    const uint32_t hints[5] = {2, 0, 0, 0, 0};
    const xcb_atom_t motif = atom("_MOTIF_WM_HINTS");
    setProperty(window, motif, motif, 32, hints, 5);
}

void XcbTestClient::setWindows(xcb_window_t window, const char *property, const std::vector<xcb_window_t> &windows) {
    setProperty(window, atom(property), XCB_ATOM_WINDOW, 32, windows.data(), static_cast<uint32_t>(windows.size()));
}

void XcbTestClient::deleteProperty(xcb_window_t window, const char *property) {
    xcb_delete_property(c_, window, atom(property));
    sync();
}

void XcbTestClient::raise(xcb_window_t window) {
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c_, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    sync();
}

void XcbTestClient::map(xcb_window_t window) {
    xcb_map_window(c_, window);
    sync();
}

void XcbTestClient::unmap(xcb_window_t window) {
    xcb_unmap_window(c_, window);
    sync();
}

void XcbTestClient::destroy(xcb_window_t window) {
    xcb_destroy_window(c_, window);
    sync();
}

void XcbTestClient::sync() {
    std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
}

} // namespace lesemund::testing
