# One GTK 3 application showing windows in a Wayland session, for the tests.
# It is on the accessibility bus through GTK's own bridge. Commands come one a
# line on standard input, fields separated by tabs:
#   open <title> | dialog <title> | title <from> <to> | close <title>
#   many <prefix> <count> | quit
# Each is answered on standard output once done: "ok", or "error <why>".
# "open", "dialog" and "many" answer when the compositor has shown their
# windows, the others when the compositor has had their change.
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

windows = {}
pending = b""


def answer(text):
    sys.stdout.write(text + "\n")
    sys.stdout.flush()


def show(new_windows):
    # Answers once the compositor has shown every window of the command: the
    # shell activates each window it maps, so each has been active once.
    waiting = set(new_windows)

    def activated(window, _property):
        if window.is_active() and window in waiting:
            waiting.discard(window)
            if not waiting:
                answer("ok")

    for window in new_windows:
        window.connect("notify::is-active", activated)
        window.show_all()


def new_window(title, dialog=False):
    if title in windows:
        raise ValueError("a window " + title + " is open already")
    window = Gtk.Dialog(title=title) if dialog else Gtk.Window(title=title)
    label = Gtk.Label(label=title)
    if dialog:
        window.get_content_area().add(label)
    else:
        window.add(label)
    window.set_default_size(200, 100)
    windows[title] = window
    return window


def run(fields):
    command, args = fields[0], fields[1:]
    if command == "open":
        show([new_window(args[0])])
    elif command == "dialog":
        show([new_window(args[0], dialog=True)])
    elif command == "many":
        show([new_window("%s %d" % (args[0], i)) for i in range(1, int(args[1]) + 1)])
    elif command == "title":
        window = windows.pop(args[0])
        window.set_title(args[1])
        windows[args[1]] = window
        Gdk.Display.get_default().sync()
        answer("ok")
    elif command == "close":
        windows.pop(args[0]).destroy()
        Gdk.Display.get_default().sync()
        answer("ok")
    elif command == "quit":
        answer("ok")
        Gtk.main_quit()
    else:
        raise ValueError("unknown command " + command)


def readable(fd, _condition):
    global pending
    data = os.read(fd, 65536)
    if not data:  # the test is gone
        Gtk.main_quit()
        return False
    pending += data
    while b"\n" in pending:
        line, pending = pending.split(b"\n", 1)
        try:
            run(line.decode("utf-8").split("\t"))
        except (KeyError, ValueError, IndexError) as error:
            answer("error %s" % error)
    return True


GLib.io_add_watch(0, GLib.IO_IN | GLib.IO_HUP, readable)
answer("ready")
Gtk.main()
