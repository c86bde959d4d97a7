#!/usr/bin/env python3
# End-to-end run of Tastvolk Lesemund with the keyboard alone. Usage: run_e2e.py BUILD/bin [WESTON-SEAT-MODULE]
#
# The built program runs from a temporary copy of its folder under a private Xvfb; its speech page is
# silent and keeps a journal (time TAB button TAB text, CR and LF written as \r and \n). xdotool presses
# the keys; each step checks the new journal lines and the bytes of the speech files lesemund/text.txt
# and fenster.txt (Windows-1252, usually behind the voice directive). Given the tests' seat module for
# weston, the program then runs in a private headless Wayland session, beside GTK windows.
import atexit, http.server, json, os, re, shutil, signal, subprocess, sys, tempfile, threading, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import waylandsession  # noqa: E402
from waylandsession import Gtk, end, spawn, until  # noqa: E402

D = "#voice=name:qvx.de.tonra#"
MAIN, SECOND = "Tastvolk Lesemund", "Zweites Fenster"
FILE1 = ("Lokale Liste.. Mit Pfeil-Tasten hoch und runter Auswahl suchen. "
         "Mit Enter Text vorlesen. Mit F9 Dokument öffnen!")
MODE1 = "Vorlesen bei neuer Datei abbruch. Ohne Abbruch Pfeiltaste nach untern!"
MODE0 = "Lesen ohne abbruch bis Ende. Mit Abbruch Pfeiltaste nach oben!"
QUESTION = "Soll die Programm Änderungen gespeichert werden? Buchstabe J. für Ja . N. für Nein!"
BRIEF = "Lieber Hans,\r\nschöne Grüße aus Köln.\r\n"
WEB_TEXT = "Hallo aus dem Netz: Äpfel, Öfen und Übermut für 5 €."
SCRATCH = "Grüße aus Köln, Straße 5"
# Tab from the file list: each stop's accessible name and focus text. The option pair is one stop;
# after "Nochmal [F5]" the trap hands the focus back to the list.
TAB_CYCLE = [
    ("Auswahl lesen", "Auswahl lesen [Enter]: TXT + DOC + RTF"),
    ("Lokale Liste aktualisieren", "Lokale Liste Aktualisieren"),
    ("Lokaler Ordner öffnen", "Lokaler Ordner öffnen"),
    ("Auswahl öffnen", "Lokale Auswahl öffnen [F9]"),
    ("Vorlesen bei neuer Datei Abbruch.", MODE1),
    ("Aktives Fenster automatisch sprechen",
     "Aktives Fenster automatisch sprechen. Ist Aktiviert! Umstellung mit Leertaste!"),
    ("Aktiver Button automatisch lesen, Aktiviert",
     "Aktiver Button automatisch lesen. Ist aktiviert. Umstellung mit Leertaste!"),
    ("Zwischenspeicher Textfeld",
     "Zwischenspeicher Textfeld. Mit Enter klick vorlesen. Löschen mit Entfernungstaste."),
    ("Text vorlesen", "Textfeld vorlesen."),
    ("Hilfe Beschreibung [F1]", "Hilfe, Tasten Beschreibung."),
    ("Web Adressen Textfeld", "Focus ist auf Web Adressen Textfeld."),
    ("Bei Text Veränderung automatisch lesen",
     "Bei URL Adresse Text veränderung automatisch lesen. Ist inaktiv. Umstellung mit Leertaste!"),
    ("URL Datei vorlesen", "URL Datei vorlesen"),
    ("URL öffnen", "URL Adresse öffnen"),
    ("Chat 1", "Chat 1. automatisch vorlesen und im Internet-Explorer öffnen."),
    ("Chat 2", "Chat 2. automatisch vorlesen und im Internet-Explorer öffnen."),
    ("Standart Einstellung", "Programm, auf Standart Einstellung zurücksetzen!"),
    ("Singen", "Mein Programm kann auch singen. Ein kleines Beispiel!"),
    ("Adresse lesen", "Adresse vorlesen."),
    ("Exit", "Exit, Programm Fenster schließen!"),
    ("Pause [F2]", "Pause beim sprechen [F2]."),
    ("Weiter [F3]", "Weiter sprechen [F3]."),
    ("Stop [F4]", "Stop beim sprechen [F4]."),
    ("Nochmal [F5]", "Nochmal sprechen [F5]."),
    ("Lokale Liste", FILE1),
]
FOCUS = dict(TAB_CYCLE)
# Seen by accessibility tools only: the check box Tab skips, the button disabled at start, and the
# second option button, which describes the selected mode like the first.
NOT_TABBED = [("Bei Text veränderung automatisch lesen",
               "Bei Auswahlfeld Text veränderung automatisch lesen. Ist inaktiv. Umstellung mit Leertaste!"),
              ("URL-speichern", "URL Adresse speichern!"), ("Vorlesen ohne Abbruch bis Ende.", MODE1)]
fails, requests = [], []
OFFSET, P = 0, None


def check(name, ok, detail=""):
    print(f"  {'ok  ' if ok else 'FAIL'}  {name}" + ("" if ok else f"\n          {detail}"), flush=True)
    fails.extend([] if ok else [name])
    return ok


def xdo(*args):
    return subprocess.run(["xdotool", *args], env=XENV, capture_output=True, text=True, timeout=30)


def keys(*names, pause=0.0):
    xdo("key", "--clearmodifiers", "--delay", str(int(pause * 1000)), *names)


def window(title, timeout):
    return until(lambda: xdo("search", "--onlyvisible", "--name", f"^{title}$").stdout.split(), timeout)


def read(name):
    path = os.path.join(DATA, name)
    return open(path, "rb").read() if os.path.exists(path) else None


def new():
    # The journal's complete lines since the last call, as (button, text).
    global OFFSET
    data = (read("journal.txt") or b"")[OFFSET:]
    data = data[:data.rfind(b"\n") + 1]
    OFFSET += len(data)
    lines = data.decode("utf-8", "replace").split("\n")[:-1]
    return [tuple(l.replace("\\r", "\r").replace("\\n", "\n").split("\t", 2)[1:]) for l in lines]


u1, title = lambda text: ("user1", D + text), lambda text: ("fenster1", D + text + "\r\n")


# The task window speaks the topmost window's title whenever it changes, between any steps.
bg = {title(t) for t in (MAIN, "...", SECOND, "Warnung")}.__contains__


def matches(got, want, tol):
    # The wanted clicks in order (a button alone matches any text), tolerated ones in between.
    i, bad = 0, []
    for c in got:
        if i < len(want) and (c == want[i] or c[0] == want[i]):
            i += 1
        elif not tol(c):
            bad.append(c)
    return i == len(want) and not bad


def collect(want, timeout=5.0, settle=0.25, tol=bg):
    got = []
    until(lambda: got.extend(new()) or matches(got, want, tol) or not alive(), timeout)
    until(lambda: got.extend(new()), settle)
    return got


def step(name, act, want, timeout=5.0, settle=0.25, tol=bg):
    # act: keys (a list), a text to type (a str) or a callable; then the wanted clicks and no others.
    new()
    xdo("type", "--delay", "40", act) if isinstance(act, str) else act() if callable(act) else keys(*act)
    got = collect(want, timeout, settle, tol)
    check(name, matches(got, want, tol) and alive(), f"want {want}\n          got  {got}")
    return got


def file_is(name, f, want, directive=True):
    want = ((D if directive else "") + want).encode("cp1252") if isinstance(want, str) else want
    check(f"{name}: {f} bytes", read(f) == want, f"want {want!r}\n          got  {read(f)!r}")


def choose(name, menu, item, caption, want, back=FILE1, **kw):
    # A menu item from the keyboard: F10; Down opens the first menu, Right the next ones. The walk
    # announces the highlighted item (nothing when caption is None); leaving the menu may announce the
    # control that had the focus again.
    new()
    keys("F10", "Down", *["Right"] * menu, *["Down"] * item, pause=0.2)
    walk = [c for c in collect([], 0, 0.4) if not bg(c)]
    check(f"{name}: the walk says {caption}", walk[-1:] == [u1(caption)] if caption else not walk, walk)
    return step(f"{name}: Enter chooses it", ["Return"], want, tol=lambda c: bg(c) or c == u1(back), **kw)


alive = lambda: P is not None and P.poll() is None


def start(name, button="user1", env={}):
    # Starts the program; until 4.6 s after the start nothing but the list's focus text may be said.
    global P
    new()
    P = spawn([os.path.join(APP, "tastvolk-lesemund")], cwd=APP, env={**APP_ENV, **env}, stdin=subprocess.DEVNULL,
              stdout=LOG, stderr=subprocess.STDOUT)
    t0, w = time.monotonic(), window(MAIN, 25)
    if not check(f"{name}: the main window appears and takes the focus",
                 w and xdo("windowfocus", "--sync", w[0]).returncode == 0):
        sys.exit(1)
    got = collect([(button, D + FILE1)], 10, max(0.3, 4.6 - (time.monotonic() - t0)))
    check(f"{name}: nothing but the file list's focus text is said ({button})",
          [c for c in got if not bg(c)] == [(button, D + FILE1)], got)
    return w[0], got


def answer(key, timeout=8):
    box = window("Warnung", timeout)
    if box:
        xdo("windowfocus", "--sync", box[0])
        keys(key)
    return box, until(lambda: not alive(), 15)


pairs = lambda ini: [l.split(b"=", 1) for l in ini.split(b"\r\n") if b"=" in l and not l.startswith(b"[")]


def prepare(bin_dir, start_address):
    os.makedirs(APP)
    shutil.copy2(os.path.join(bin_dir, "tastvolk-lesemund"), APP)
    shutil.copytree(os.path.join(bin_dir, "lesemund"), DATA,
                    ignore=shutil.ignore_patterns("journal.txt", "text.txt", "fenster.txt"))
    # The speech page: silent, with a journal of every click.
    tag = lambda m: re.sub(r"""\s+data-(output|journal)\s*=\s*("[^"]*"|'[^']*'|[^\s>]+)""", "", m[0],
                           flags=re.I)[:-1] + ' data-output="none" data-journal="journal.txt">'
    page = re.sub(r"<form\b[^>]*>", tag, read("sp").decode("utf-8"), count=1, flags=re.I)
    # The options as shipped, with an address on loopback that no timer of the program reads.
    ini = re.sub(rb"(?im)^(urladessenfeld=)[^\r\n]*", lambda m: m[1] + start_address.encode(), read("optionen.ini"))
    for path, data in (("lesemund/sp", page.encode("utf-8")), ("lesemund/optionen.ini", ini),
                       ("brief.txt", BRIEF.encode("cp1252"))):
        with open(os.path.join(APP, path), "wb") as f:
            f.write(data)


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        requests.append((self.path, self.headers.get("User-Agent")))
        found = self.path == "/gruss.txt"
        self.send_response(200 if found else 404)
        self.end_headers()
        self.wfile.write(WEB_TEXT.encode("cp1252") if found else b"nicht da")

    log_message = lambda *_: None


def without_display():
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    free = next(n for n in range(600, 900) if not os.path.exists(f"/tmp/.X11-unix/X{n}"))
    for name, extra in (("no DISPLAY", {}), ("a display nobody serves", {"DISPLAY": f":{free}"})):
        r = subprocess.run([os.path.join(APP, "tastvolk-lesemund")], cwd=APP, env={**env, **extra},
                           capture_output=True, timeout=20)
        err = r.stderr.decode("utf-8", "replace")
        check(f"{name}: exit status 1 and one German line", r.returncode == 1 and err.count("\n") == 1
              and "Keine grafische Arbeitsfläche" in err, f"status {r.returncode}, stderr {err!r}")


def accessible_controls():
    # Run as `run_e2e.py --atspi` on the accessibility bus: [role, name, description] of every node.
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
    kids = lambda n: [c for c in map(n.get_child_at_index, range(n.get_child_count())) if c]
    walk = lambda n, d=0: [x for c in kids(n) for x in [[c.get_role_name(), c.get_name(), c.get_description()]]
                           + (walk(c, d + 1) if d < 10 else [])]
    app = until(lambda: [a for a in kids(Atspi.get_desktop(0)) if a.get_name() == MAIN], 15)
    print(json.dumps(walk(app[0]) if app else []))


def journeys(address):
    without_display()
    bus = spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE, stderr=LOG)
    a11y = {"DBUS_SESSION_BUS_ADDRESS": bus.stdout.readline().decode().strip(), "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "GSETTINGS_BACKEND": "memory"}
    spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], signal.SIGTERM, env={**XENV, **a11y},
          stdout=LOG, stderr=LOG)
    win, got = start("start", env=a11y)
    file_is("start", "text.txt", FILE1)
    check("start: then the main window's title is spoken", [c for c in got if c[0] == "fenster1"][-1:] == [title(MAIN)],
          got)
    file_is("start", "fenster.txt", MAIN + "\r\n")
    r = subprocess.run(["/usr/bin/python3", __file__, "--atspi"], env={**XENV, **a11y}, capture_output=True, timeout=60)
    nodes = [tuple(n[1:]) for n in json.loads(r.stdout or b"[]")]
    missing = [n for n in TAB_CYCLE + NOT_TABBED if n not in nodes]
    check("accessibility tools see each control's caption and focus text", nodes and not missing, (missing, r.stderr))

    for i, (name, text) in enumerate(TAB_CYCLE):
        step(f"Tab {i + 1}: {name}", ["Tab"], [u1(text)], settle=0.15)
        file_is(f"Tab {i + 1}", "text.txt", text)
    step("Tab to Auswahl lesen", ["Tab"], [u1(TAB_CYCLE[0][1])])
    for key, button in (("F1", "Sprech"), ("F2", "pause"), ("F3", "Weiter"), ("F4", "Stop"), ("F5", "Nochmal"),
                        ("shift+F4", "Stop")):
        step(f"{key} clicks {button} once", [key], [button], settle=0.4)

    help_text, text3 = read("hilfe.txt"), FOCUS["Zwischenspeicher Textfeld"]
    step("Ctrl+T: focus to the scratch field", ["ctrl+t"], [u1(text3)])
    choose("Lesen > Textfeld vorlesen", 1, 4, "Textfeld vorlesen [Enter]", [("user2", help_text.decode("cp1252"))],
           back=text3, settle=0.6)
    file_is("F1 put the help text into the scratch field", "text.txt", help_text)
    step("Ctrl+T on the focused field announces it again", ["ctrl+t"], [u1(text3)])
    step("Delete in the scratch field says nothing", ["Delete"], [], 0, 0.5)
    step("Enter reads the field that Delete emptied", ["Return"], [("user2", "")])
    file_is("empty scratch field", "text.txt", b"")
    step("Delete again (Enter added a line end)", ["Delete"], [], 0, 0.3)
    step("typing says nothing", SCRATCH, [], 0, 0.5)
    step("Enter reads the typed text (user2)", ["Return"], [("user2", SCRATCH)])
    file_is("typed text, no directive", "text.txt", SCRATCH, directive=False)
    step("F2 in the scratch field pauses once", ["F2"], [("pause", "")])
    step("Tab to Text vorlesen", ["Tab"], [u1(FOCUS["Text vorlesen"])])
    step("Enter presses the focused button Text vorlesen", ["Return"], [("user2", SCRATCH + "\r\n")])

    step("Ctrl+F: focus to the file list", ["ctrl+f"], [u1(FILE1)])
    for name, text in TAB_CYCLE[:5]:
        step(f"Tab to {name}", ["Tab"], [u1(text)], settle=0.15)
    step("Down: reading to the end, announced through user2 from now", ["Down"], [("user2", D + MODE0)])
    file_is("after Down", "text.txt", MODE0)
    step("Tab: through user2", ["Tab"], [("user2", D + TAB_CYCLE[5][1])])
    step("Shift+Tab back to the option pair", ["shift+Tab"], [("user2", D + MODE0)])
    step("Up: reading breaks off again (user1)", ["Up"], [u1(MODE1)])
    file_is("after Up", "text.txt", MODE1)

    step("Ctrl+F", ["ctrl+f"], [u1(FILE1)])
    step("Down selects brief.txt: its name is spoken (fenster1)", ["Down"], [("fenster1", D + "brief.txt")])
    file_is("selected file name, no line end", "fenster.txt", "brief.txt")
    step("Enter on the list reads the document", ["Return"], [u1(BRIEF)], timeout=20, settle=0.5)
    file_is("the paragraphs with CR LF", "text.txt", BRIEF)
    step("Tab to Auswahl lesen", ["Tab"], [u1(TAB_CYCLE[0][1])])
    step("Enter on the focused button Auswahl lesen reads it again", ["Return"], [u1(BRIEF)], timeout=20)
    step("Ctrl+F", ["ctrl+f"], [u1(FILE1)])

    for opener in ("F10", "alt"):  # leaving the menu bar may announce the list again
        step(f"{opener} opens the menu bar: Felder", [opener], [u1("Felder")], settle=0.4)
        step(f"{opener}, Escape leaves it", ["Escape"], [], 0, 0.5, tol=lambda c: bg(c) or c == u1(FILE1))
        step(f"{opener}, Escape: the focus is back on the list", ["Tab"], [u1(TAB_CYCLE[0][1])])
        step("Ctrl+F", ["ctrl+f"], [u1(FILE1)])

    button_off, active = "Aktiver Button automatisch lesen. Ist inaktiv.", "Aktives Fenster vorlesen"
    choose("Hilfe Button lesen (off)", 2, 0, "Hilfe Button lesen", [u1(button_off)])
    file_is("button reading off", "text.txt", button_off)
    choose("Hilfe Button lesen (on)", 2, 0, None, [u1("Aktiver Button automatisch lesen. Ist aktiviert.")])
    choose(f"{active} (off)", 2, 1, active, [u1("Aktives Fenster nicht mehr sprechen.")] * 2)
    got = choose(f"{active} (on)", 2, 1, active, [u1("Aktives Fenster automatisch sprechen.")] * 2) + collect([], 0, 3)
    check("switched on again: the active window's title is spoken",
          [c for c in got if c[0] == "fenster1"][-1:] == [title(MAIN)], got)
    watcher, url = "Bei Auswahlfeld Text veränderung automatisch lesen. Ist ", "URL Adrese bei veränderung lesen"
    url_said = "Bei URL Adresse Text veränderung automatisch lesen. Ist "
    choose("Lokale Liste Auswahl bei veränderung lesen (on)", 2, 2, "Lokale Liste Auswahl bei veränderung lesen",
           [u1(watcher + "aktiviert.")] * 2)
    choose(f"{url} (on; the other goes off)", 2, 3, url,
           [u1(url_said + "aktiviert."), u1(watcher + "inaktiv."), u1(watcher + "inaktiv.")])
    file_is("the nested handler's text comes last", "text.txt", watcher + "inaktiv.")
    choose(f"{url} (off)", 2, 3, url, [u1(url_said + "inaktiv.")])
    file_is("URL watcher off", "text.txt", url_said + "inaktiv.")
    choose("Stimme > Schneller", 5, 0, "Schneller, F6", [u1("Tempo 200 Wörter pro Minute")])
    step("Shift+F6: slower again, said in that voice", ["shift+F6"], [u1("Tempo 175 Wörter pro Minute")])

    furl = FOCUS["Web Adressen Textfeld"]
    step("Ctrl+U: focus to the address field", ["ctrl+u"], [u1(furl)])
    step("Delete empties the address field, silently", ["Delete"], [], 0, 0.4)
    step("typing the address says nothing", address, [], 0, 0.4)
    choose("URL > URL Datei vorlesen", 4, 3, "URL Datei vorlesen [Enter]", [title(WEB_TEXT)], back=furl, timeout=8)
    file_is("the text read from the address", "fenster.txt", WEB_TEXT + "\r\n")
    step("Ctrl+U on the focused field announces it again", ["ctrl+u"], [u1(furl)])
    for name, text in TAB_CYCLE[11:13]:
        step(f"Tab to {name}", ["Tab"], [u1(text)])
    step("Space on URL Datei vorlesen reads the address again", ["space"], [title(WEB_TEXT)], 8)
    check("one GET of the typed address each time, as Klarbit-5H",
          [r for r in requests if r[0] != "/start"] == [("/gruss.txt", "Klarbit-5H")] * 2, requests)
    step("Alt+S reads the address itself (user2, no directive)", ["alt+s"], [("user2", address)])
    file_is("the address", "text.txt", address, directive=False)
    keys("Escape", "Escape", pause=0.3)
    step("nothing is said when the address reader's check finds text", [], [], 0, 4.5)

    step("a second window on top: its title is spoken", lambda: spawn(
        ["xmessage", "-title", SECOND, "-geometry", "+20+20", "hallo"], env=XENV, stdout=LOG, stderr=LOG),
        [title(SECOND)], 6, tol=lambda c: False)
    file_is("second window", "fenster.txt", SECOND + "\r\n")
    step("when it goes, the main window's title is spoken again", lambda: end(waylandsession.children[-1]),
         [title(MAIN)], 6, tol=lambda c: False)
    xdo("windowfocus", "--sync", win)
    ini = read("optionen.ini")
    step("Alt+E after a change: the question is spoken (fenster1)", ["alt+e"], [("fenster1", D + QUESTION)], settle=0.6)
    check("N in the question box ends the program; the options stay", all(answer("n")) and read("optionen.ini") == ini)

    start("second start")
    choose(f"{active} (off)", 2, 1, active, [u1("Aktives Fenster nicht mehr sprechen.")] * 2)
    step("Ctrl+F", ["ctrl+f"], [u1(FILE1)])
    for name, text in TAB_CYCLE[:5]:
        step(f"Tab to {name}", ["Tab"], [u1(text)], settle=0.15)
    step("Down: reading to the end", ["Down"], [("user2", D + MODE0)])
    step("Alt+E: the question is spoken", ["alt+e"], [("fenster1", D + QUESTION)], settle=0.6)
    file_is("the question, no line end", "fenster.txt", QUESTION)
    check("J in the question box ends the program", all(answer("j")))
    saved, changed = read("optionen.ini"), {b"AktivesFenster": b"0", b"LesenOhne": b"Falsch", b"LesenOhne1": b"Wahr"}
    check("J: the switch and the reading mode are saved, the other lines as they were, with CR LF",
          pairs(saved) == [[k, changed.get(k, v)] for k, v in pairs(ini)] and saved.startswith(b"[optionen]\r\n"),
          f"before {ini!r}\n          after  {saved!r}")

    _, got = start("third start", "user2")  # the saved reading mode announces through user2
    check("third start: with the saved switch off, no window title is spoken", "fenster1" not in dict(got), got)
    new()
    keys("alt+e")
    box, ended = answer("n", timeout=2)
    check("Alt+E without a change: no question, nothing said, the program ends, the options stay",
          not box and ended and not [c for c in new() if not bg(c)] and read("optionen.ini") == saved)

NOTICE = ("Das aktive Fenster kann auf diesem Desktop nicht gelesen werden, weil es keinen Barrierefreiheitsdienst "
          "gibt. Bitte die Barrierefreiheit des Desktops einschalten: das Paket at-spi2-core installieren und neu anmelden.")


def wayland_start(name, env, want):
    # The program with no DISPLAY and no QT_QPA_PLATFORM; `want`: what it says first, and nothing else but the
    # caption of its task window, which may be on top for its first polling step.
    global P
    new()
    P = spawn([os.path.join(APP, "tastvolk-lesemund")], cwd=APP, env=env, stdin=subprocess.DEVNULL, stdout=LOG,
              stderr=subprocess.STDOUT)
    got, heard, said = [], [], lambda: [c for c in got if c != title("...")]
    until(lambda: got.extend(new()) or heard.extend([time.monotonic()] * (len(got) - len(heard))) or
          len(said()) >= len(want) or not alive(), 10)
    maps = open(f"/proc/{P.pid}/maps").read() if alive() else ""
    check(f"{name}: a native Wayland client, no X display; said first: {', '.join(b for b, _ in want)}",
          "libqwayland" in maps and "libqxcb" not in maps and said() == want, got)
    return got, heard


def wayland(seat):
    # The program in a private headless Wayland session with the accessibility bus, and then on a session bus
    # without one. No keyboard: GTK programs change the windows, SIGTERM ends the program.
    global P
    with open(os.path.join(DATA, "optionen.ini"), "wb") as f:
        f.write(SHIPPED_INI)  # the X11 run saved the window switch off
    session = waylandsession.Session(seat)
    session.start()
    env, gtk = session.environment({k: v for k, v in APP_ENV.items() if k != "QT_QPA_PLATFORM"}), Gtk(session)
    # WAYLAND_DISPLAY alone makes a Wayland session, XDG_SESSION_TYPE too (below).
    wayland_start("Wayland", {k: v for k, v in env.items() if k != "XDG_SESSION_TYPE"}, [u1(FILE1), title(MAIN)])
    file_is("Wayland: its own window found on the accessibility bus", "fenster.txt", MAIN + "\r\n")

    only, first, renamed = lambda c: False, "Straßenkarte – Köln", "Straßenkarte – Düsseldorf"
    step("Wayland: a GTK window on top: its title is spoken, once", lambda: gtk("open", first), [title(first)], 5, 1,
         only)
    file_is("Wayland: the GTK window's title", "fenster.txt", first + "\r\n")
    step("Wayland: its new title is spoken", lambda: gtk("title", first, renamed), [title(renamed)], 5, 0.5, only)
    step("Wayland: the GTK program quits: the main window's title again", lambda: gtk("quit"), [title(MAIN)], 5,
         0.5, only)
    stopped, third = Gtk(session), Gtk(session)
    step("Wayland: a second GTK program's window", lambda: stopped("open", "Angehalten"), [title("Angehalten")], 5,
         0.3, only)
    step("Wayland: a third one's window on top", lambda: third("open", "Darüber"), [title("Darüber")], 5, 0.3, only)
    stopped.p.send_signal(signal.SIGSTOP)
    time.sleep(2.5)  # the window list asks every program for its windows once in 2 s
    step("Wayland: the second program stopped, a new window of the third is still spoken",
         lambda: third("open", "Danach"), [title("Danach")], 3, 0.5, only)
    stopped.p.send_signal(signal.SIGCONT)
    for p in (P, stopped.p, third.p):
        end(p)

    got, heard = wayland_start("Wayland without an accessibility bus",
                               {**env, "DBUS_SESSION_BUS_ADDRESS": session.session_bus()}, [u1(FILE1)])
    until(lambda: got.extend(new()) or heard.extend([time.monotonic()] * (len(got) - len(heard))) or False, 3.5)
    check("Wayland without an accessibility bus: 1.5 s later the notice, once", got == [u1(FILE1), u1(NOTICE)] and
          1.2 < heard[1] - heard[0] < 3, (got, [round(t - heard[0], 2) for t in heard]))
    file_is("Wayland without an accessibility bus: the notice", "text.txt", NOTICE)
    end(P)
    session.stop()


if __name__ == "__main__":
    if sys.argv[1:] == ["--atspi"]:
        sys.exit(accessible_controls())
    work = tempfile.mkdtemp(prefix="lesemund-e2e-")
    APP, runtime = os.path.join(work, "app"), os.path.join(work, "runtime")
    DATA, LOG = os.path.join(APP, "lesemund"), open(os.path.join(work, "log"), "wb")
    os.makedirs(runtime, mode=0o700)
    atexit.register(shutil.rmtree, work, True)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = f"http://127.0.0.1:{server.server_address[1]}"
    prepare(os.path.abspath(sys.argv[1]), base + "/start")
    SHIPPED_INI = read("optionen.ini")
    r, w = os.pipe()
    spawn(["Xvfb", "-displayfd", str(w), "-nolisten", "tcp", "-screen", "0", "1024x768x24", "-noreset"],
          pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=LOG)
    os.close(w)
    XENV = dict(os.environ, DISPLAY=":" + os.fdopen(r).readline().strip())
    # The program sees no session bus and no language settings of the caller's.
    APP_ENV = {k: v for k, v in XENV.items() if not k.startswith("LC_") and k not in (
        "QT_ACCESSIBILITY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS",
        "LANGUAGE", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "LESEMUND_FENSTERLISTE")}
    APP_ENV.update(QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=runtime, LANG="C.UTF-8")
    try:
        journeys(base + "/gruss.txt")
        wayland(os.path.abspath(sys.argv[2])) if sys.argv[2:] else print("no seat module for weston: no Wayland run")
    finally:
        LOG.flush()
        if fails:
            print("program log (end):\n" + open(LOG.name, "rb").read()[-3000:].decode("utf-8", "replace"))
            print("failed:\n  " + "\n  ".join(fails))
    sys.exit(1 if fails else 0)
