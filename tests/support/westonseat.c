/* A weston module for the tests' headless sessions: one seat "default" with
 * a keyboard and a pointer. The headless backend brings no seat, and without
 * one the desktop shell never gives a window the keyboard focus, so no window
 * would ever be active. With it the shell activates each newly mapped window,
 * and the next one when the active one closes. */
#include <libweston/libweston.h>
#include <stdlib.h>
#include <wayland-server.h>

/* Exported by libweston for its backends, but not in its public header. */
void weston_seat_init(struct weston_seat *seat, struct weston_compositor *ec, const char *seat_name);
void weston_seat_release(struct weston_seat *seat);
int weston_seat_init_keyboard(struct weston_seat *seat, struct xkb_keymap *keymap);
int weston_seat_init_pointer(struct weston_seat *seat);

struct test_seat {
    struct weston_seat seat;
    struct wl_listener compositor_destroyed;
};

static void release(struct wl_listener *listener, void *data) {
    struct test_seat *s = wl_container_of(listener, s, compositor_destroyed);
    (void)data;
    wl_list_remove(&s->compositor_destroyed.link);
    weston_seat_release(&s->seat);
    free(s);
}

WL_EXPORT int wet_module_init(struct weston_compositor *ec, int *argc, char *argv[]) {
    struct test_seat *s = calloc(1, sizeof *s);
    (void)argc;
    (void)argv;
    if (!s)
        return -1;
    weston_seat_init(&s->seat, ec, "default");
    /* The keyboard takes the compositor's keymap (xkb's defaults). */
    if (weston_seat_init_pointer(&s->seat) < 0 || weston_seat_init_keyboard(&s->seat, NULL) < 0) {
        weston_seat_release(&s->seat);
        free(s);
        return -1;
    }
    s->compositor_destroyed.notify = release;
    wl_signal_add(&ec->destroy_signal, &s->compositor_destroyed);
    return 0;
}
