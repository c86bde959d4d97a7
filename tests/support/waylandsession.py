# A private headless Wayland desktop for the tests: weston with the tests' seat and its desktop shell, a session
# bus that starts no services and the accessibility bus, all in a runtime folder of their own; Gtk shows real GTK
# windows in it (gtkwindows.py), which are on the accessibility bus through GTK's own bridge. Every process
# started here dies with this one, even when it is killed, and is ended on a normal exit.
#
# `waylandsession.py --serve SEAT_MODULE` keeps a session for a test program (support/waylandsession.h). Its
# commands come one a line on standard input, each answered with a line, "ok" or "error <why>" unless told:
#   start         starts the session
#   environment   the environment of the session's programs, as a JSON object
#   kill-a11y     the accessibility bus goes away as in a crash: its launcher, the bus and the registry are killed
#   restart-a11y  a new accessibility bus, once its registry answers
#   a11y-on       "true" or "false": the session's accessibility switch, as toolkits read it
#   gtk           a new GTK application in the session (Gtk), answered with its process id
#   gtk PID ...   a command to that application, answered as it does; "gtk PID ended MS": "ok" once it has ended
#                 within MS milliseconds
# At the end of standard input, or when the test program ends, everything is stopped.
import atexit, contextlib, ctypes, json, os, pathlib, re, select, shutil, signal, subprocess, sys, tempfile, time

_prctl = ctypes.CDLL(None, use_errno=True).prctl
children = []  # ended in reverse order when this process ends normally


def until(condition, timeout):
    deadline = time.monotonic() + timeout
    while not (result := condition()) and time.monotonic() < deadline:
        time.sleep(0.05)
    return result


def line_of(pipe, timeout=10):
    # A line from an unbuffered `pipe`, without its end; "" when none came within `timeout`.
    return pipe.readline().decode().strip() if select.select([pipe], [], [], timeout)[0] else ""


def spawn(argv, death=signal.SIGKILL, **kw):
    # A child that gets `death` when this process ends, even by a crash (1: PR_SET_PDEATHSIG).
    parent = os.getpid()
    if not children:
        atexit.register(lambda: end(*reversed(children)))
    children.append(subprocess.Popen(argv, preexec_fn=lambda: (_prctl(1, death) or os.getppid() != parent)
                                     and os._exit(127), **kw))
    return children[-1]


def end(*processes):
    for p in processes:
        p.terminate()
        p.send_signal(signal.SIGCONT)  # a stopped one too
        until(lambda: p.poll() is not None, 5) or p.kill() or p.wait(5)


class Session:
    def __init__(self, seat_module):
        self.seat, self.children, self.launcher, self.vars = seat_module, [], None, {}

    def environment(self, base=None):
        # `base` (this process's environment) in the session. Not passed on: X, the caller's accessibility bus, and
        # NO_AT_BRIDGE, which would keep GTK off the bus.
        removed = ("DISPLAY", "AT_SPI_BUS_ADDRESS", "NO_AT_BRIDGE")
        return {**{k: v for k, v in (base or os.environ).items() if k not in removed}, **self.vars}

    def check(self, ok, why, log):
        # `ok`, else a RuntimeError with the reason and the end of the log concerned.
        if not ok:
            with open(os.path.join(self.dir, log + ".log"), "rb") as f:
                raise RuntimeError(why + ": " + f.read()[-800:].decode("utf-8", "replace").strip())
        return ok

    def spawn(self, argv, log, death=signal.SIGKILL, **kw):
        # A child in the session whose errors go to <log>.log.
        with open(os.path.join(self.dir, log + ".log"), "ab") as err:
            kw = {"env": self.environment(), "stdin": subprocess.DEVNULL, "stdout": err, "bufsize": 0, **kw}
            self.children.append(spawn(argv, death, stderr=err, **kw))
        return self.children[-1]

    def start(self):
        # Raises RuntimeError with the reason and the end of the log concerned.
        self.dir = tempfile.mkdtemp(prefix="lesemund-wayland-")  # only ours (0700)
        # Settings live in memory: the session's accessibility switch, which the accessibility bus keeps in the
        # desktop's settings, never touches the user's own.
        self.vars = {"XDG_RUNTIME_DIR": self.dir, "WAYLAND_DISPLAY": "wayland-lesemund", "XDG_SESSION_TYPE": "wayland",
                     "GSETTINGS_BACKEND": "memory"}
        self.vars["DBUS_SESSION_BUS_ADDRESS"] = self.session_bus()
        atexit.register(self.stop)  # before the children are ended
        # No animations and no panel: a window is active as soon as the shell says so.
        ini = "[shell]\npanel-position=none\nanimation=none\nclose-animation=none\nstartup-animation=none\n"
        pathlib.Path(self.dir, "weston.ini").write_text(ini + "focus-animation=none\n")
        weston = self.spawn(["/usr/bin/weston", "--backend=headless-backend.so", "--socket=wayland-lesemund",
                             "--shell=desktop-shell.so", "--modules=" + self.seat, "--idle-time=0",
                             "--config=" + os.path.join(self.dir, "weston.ini")], "weston")
        up = lambda: os.path.exists(os.path.join(self.dir, "wayland-lesemund")) and weston.poll() is None
        self.check(until(lambda: up() or weston.poll() is not None, 10) and up(), "weston did not start", "weston")
        self.restart_accessibility_bus()

    def session_bus(self):
        # The address of a new session bus that starts no services: an accessibility bus only where one is launched.
        name = f"bus{len(self.children)}"
        with open(os.path.join(self.dir, name + ".conf"), "w") as f:
            f.write(f"<busconfig><type>session</type><listen>unix:path={self.dir}/{name}</listen><auth>EXTERNAL</auth>"
                    '<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>'
                    '<allow own="*"/></policy></busconfig>\n')
        bus = self.spawn(["/usr/bin/dbus-daemon", f"--config-file={self.dir}/{name}.conf", "--nofork",
                          "--print-address=1"], name, stdout=subprocess.PIPE)
        return self.check(line_of(bus.stdout), "the session bus did not start", name)

    def call(self, bus, service, path, method, *args):
        # The printed reply of a method call on `bus` (None: the session bus); None when there is none within 2 s.
        r = subprocess.run(["/usr/bin/dbus-send", "--bus=" + (bus or self.vars["DBUS_SESSION_BUS_ADDRESS"]),
                            "--print-reply", "--reply-timeout=2000", "--dest=" + service, path, method, *args],
                           capture_output=True, timeout=10)
        return r.stdout.decode() if r.returncode == 0 else None

    def accessibility_bus(self):
        reply = self.call(None, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress")
        return (m := re.search(r'string "(.*)"', reply or "")) and m[1]

    def accessibility_on(self):
        reply = self.call(None, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties.Get",
                          "string:org.a11y.Status", "string:IsEnabled")
        return str("boolean true" in (reply or "")).lower()

    def restart_accessibility_bus(self):
        # at-spi-bus-launcher leads a process group of its own, with the bus it launches and the registry that
        # bus starts when first asked. Ended with this process, it ends its bus, which otherwise stays.
        self.kill_accessibility_bus()
        self.check(until(lambda: not self.accessibility_bus(), 10), "an accessibility bus is still there", "launcher")
        self.launcher = self.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], "launcher",
                                   signal.SIGTERM, process_group=0)
        bus = self.check(until(self.accessibility_bus, 10), "at-spi-bus-launcher gives no bus", "launcher")
        self.check(until(lambda: self.call(bus, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                                           "org.a11y.atspi.Accessible.GetChildren"), 10),
                   "the accessibility bus has no registry", "launcher")

    def kill_accessibility_bus(self):
        if self.launcher:
            os.killpg(self.launcher.pid, signal.SIGKILL)
            self.launcher.wait(10)
            self.launcher = None

    def stop(self):
        self.kill_accessibility_bus()
        end(*reversed(self.children))  # weston ends its own clients
        shutil.rmtree(self.dir, True)


class Gtk:
    # A GTK 3 application (gtkwindows.py) in `session`: gtk("open", title) etc. return its answer, "" when none came
    # within 10 s. After that no answer can be told apart any more: the application is killed.
    def __init__(self, session):
        self.p = session.spawn(["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "gtkwindows.py")], "gtk",
                               env={**session.environment(), "GDK_BACKEND": "wayland"}, stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE)
        self.ready = self() == "ready"

    def __call__(self, *fields):
        with contextlib.suppress(OSError):
            self.p.stdin.write("\t".join(fields).encode() + b"\n" if fields else b"")
        return line_of(self.p.stdout) or self.p.kill() or ""


def serve(seat):
    # Ended with the test, it cleans up behind it, once: the signal comes again as each thread of the test ends.
    _prctl(1, signal.SIGTERM)
    signal.signal(signal.SIGTERM, lambda *_: signal.signal(signal.SIGTERM, signal.SIG_IGN) or sys.exit(1))
    session, apps = Session(seat), {}

    def gtk(pid=None, command="", *args):
        if pid is None:
            app = Gtk(session)
            apps[str(app.p.pid)] = app
            return session.check(app.ready and str(app.p.pid), "the GTK application did not start", "gtk")
        if command == "ended":
            return "ok" if until(lambda: apps[pid].p.poll() is not None, int(args[0]) / 1000) else "error it runs"
        return apps[pid](command, *args) or "error no answer"

    commands = {"start": session.start, "kill-a11y": session.kill_accessibility_bus,
                "restart-a11y": session.restart_accessibility_bus, "a11y-on": session.accessibility_on, "gtk": gtk,
                "environment": lambda: json.dumps(session.environment())}
    for line in sys.stdin:
        try:
            command, *args = line.rstrip("\n").split("\t")
            print(commands[command](*args) or "ok", flush=True)
        except (KeyError, IndexError, ValueError, OSError, RuntimeError) as e:
            print("error", str(e).replace("\n", " | "), flush=True)
    session.stop()


if __name__ == "__main__" and sys.argv[1:2] == ["--serve"]:
    serve(sys.argv[2])
