#!/usr/bin/env python3
"""End-to-end run of Tastvolk Lesemund with the keyboard alone.

The built program is copied with its data folder into a temporary folder,
its speech page is made silent and told to keep a journal of every click,
and the program is started under a private Xvfb server without a window
manager. xdotool then drives it through key presses only, the way a blind
user does, and after every step the suite looks at what the program handed
to the speech page: the bytes of lesemund/text.txt and lesemund/fenster.txt
(Windows-1252, usually behind the voice directive) and the new lines of
lesemund/journal.txt (time, TAB, button, TAB, text with CR and LF written as
\\r and \\n).

Usage: run_e2e.py --bin BUILD/bin [--artifacts DIR] [--readme-shot PNG] [--keep]

Screenshots of the main window, the task window, the question box and (when
it can be reached) the options window go to the artifacts folder. The script
prints one line per check and closes with "N passed, M failed"; it exits
non-zero when anything failed.
"""

import argparse
import atexit
import http.server
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

# ---------------------------------------------------------------------------
# What the program is expected to say.

DIRECTIVE = "#voice=name:qvx.de.tonra#"
MAIN_TITLE = "Tastvolk Lesemund"
TASK_TITLE = "..."
QUESTION_TITLE = "Warnung"
SECOND_TITLE = "Zweites Fenster"

FILE1_TEXT = ("Lokale Liste.. Mit Pfeil-Tasten hoch und runter Auswahl suchen. "
              "Mit Enter Text vorlesen. Mit F9 Dokument öffnen!")
OPTION_MODE1_TEXT = "Vorlesen bei neuer Datei abbruch. Ohne Abbruch Pfeiltaste nach untern!"
OPTION_MODE0_TEXT = "Lesen ohne abbruch bis Ende. Mit Abbruch Pfeiltaste nach oben!"
CHECK1_ON_FOCUS = "Aktives Fenster automatisch sprechen. Ist Aktiviert! Umstellung mit Leertaste!"
CHECK3_OFF_FOCUS = ("Bei URL Adresse Text veränderung automatisch lesen. Ist inaktiv. "
                    "Umstellung mit Leertaste!")
TEXT3_FOCUS = "Zwischenspeicher Textfeld. Mit Enter klick vorlesen. Löschen mit Entfernungstaste."
FURL_FOCUS = "Focus ist auf Web Adressen Textfeld."
COMMAND14_FOCUS = "URL Datei vorlesen"

# The Tab cycle from the file list: every control that Tab reaches, in tab
# order, with its focus text. The check box of the local watcher (skipped by
# Tab) and "URL-speichern" (disabled until the address is typed in) are not
# visited; the option pair is one stop, entered on its selected member. After
# "Nochmal [F5]" the trap button hands the focus back to the file list.
TAB_CYCLE = [
    ("Auswahl lesen", "Auswahl lesen [Enter]: TXT + DOC + RTF"),
    ("Lokale Liste aktualisieren", "Lokale Liste Aktualisieren"),
    ("Lokaler Ordner öffnen", "Lokaler Ordner öffnen"),
    ("Auswahl öffnen", "Lokale Auswahl öffnen [F9]"),
    ("Lesart (Optionsknöpfe)", OPTION_MODE1_TEXT),
    ("Aktives Fenster automatisch sprechen", CHECK1_ON_FOCUS),
    ("Aktiver Button automatisch lesen",
     "Aktiver Button automatisch lesen. Ist aktiviert. Umstellung mit Leertaste!"),
    ("Zwischenspeicher Textfeld", TEXT3_FOCUS),
    ("Text vorlesen", "Textfeld vorlesen."),
    ("Hilfe Beschreibung [F1]", "Hilfe, Tasten Beschreibung."),
    ("Adressfeld", FURL_FOCUS),
    ("Bei Text Veränderung automatisch lesen", CHECK3_OFF_FOCUS),
    ("URL Datei vorlesen", COMMAND14_FOCUS),
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
    ("Lokale Liste (über die Fokusfalle)", FILE1_TEXT),
]

# The menu bar: top-level captions in order, and the items of each menu that
# the keyboard can land on (the separator of "Automatisch" is skipped).
MENUS = [
    ("Felder", ["Auswahlfeld Focus", "Auswahl lesen [Enter]", "Auswahl Datei öffen", "_",
                "URL Feld Focus", "Textfeld schreiben + lesen Focus"]),
    ("Lesen", ["Pause F2", "Weiter F3", "Stop F4", "Nochmal F5", "Textfeld vorlesen [Enter]"]),
    ("Automatisch", ["Hilfe Button lesen", "Aktives Fenster vorlesen",
                     "Lokale Liste Auswahl bei veränderung lesen",
                     "URL Adrese bei veränderung lesen"]),
    ("Extra", ["Lokaler Ordner öffen [Alt+L]", "Auswahl öffen [Alt+A]",
               "Lokale Liste Aktualisieren", "Standart Einstellung [Alt+T]"]),
    ("URL", ["URL lesen", "URL öffen", "URL Focus [Strg+U]", "URL Datei vorlesen [Enter]",
             "URL Adrese löschen [Entf]", "Adresse lesen [Alt+S]", "URL Adresse speichern"]),
]

# What the desktop's accessibility tools must see of the visible controls:
# role, accessible name (the caption without its access-key ampersand; None
# where the control has no caption) and description (the focus text, for the
# switches by their state at start; for both option buttons the text their
# shared focus handler gives while "Vorlesen bei neuer Datei Abbruch." is
# selected).
ACCESSIBLE = [
    ("list", None, FILE1_TEXT),
    ("push button", "Auswahl lesen", "Auswahl lesen [Enter]: TXT + DOC + RTF"),
    ("push button", "Lokale Liste aktualisieren", "Lokale Liste Aktualisieren"),
    ("check box", "Bei Text veränderung automatisch lesen",
     "Bei Auswahlfeld Text veränderung automatisch lesen. Ist inaktiv. Umstellung mit Leertaste!"),
    ("push button", "Lokaler Ordner öffnen", "Lokaler Ordner öffnen"),
    ("push button", "Auswahl öffnen", "Lokale Auswahl öffnen [F9]"),
    ("radio button", "Vorlesen bei neuer Datei Abbruch.", OPTION_MODE1_TEXT),
    ("radio button", "Vorlesen ohne Abbruch bis Ende.", OPTION_MODE1_TEXT),
    ("check box", "Aktives Fenster automatisch sprechen", CHECK1_ON_FOCUS),
    ("check box", "Aktiver Button automatisch lesen, Aktiviert",
     "Aktiver Button automatisch lesen. Ist aktiviert. Umstellung mit Leertaste!"),
    ("text", None, TEXT3_FOCUS),
    ("push button", "Text vorlesen", "Textfeld vorlesen."),
    ("push button", "Hilfe Beschreibung [F1]", "Hilfe, Tasten Beschreibung."),
    ("text", None, FURL_FOCUS),
    ("check box", "Bei Text Veränderung automatisch lesen", CHECK3_OFF_FOCUS),
    ("push button", "URL Datei vorlesen", COMMAND14_FOCUS),
    ("push button", "URL öffnen", "URL Adresse öffnen"),
    ("push button", "Chat 1", "Chat 1. automatisch vorlesen und im Internet-Explorer öffnen."),
    ("push button", "Chat 2", "Chat 2. automatisch vorlesen und im Internet-Explorer öffnen."),
    ("push button", "Standart Einstellung", "Programm, auf Standart Einstellung zurücksetzen!"),
    ("push button", "URL-speichern", "URL Adresse speichern!"),
    ("push button", "Singen", "Mein Programm kann auch singen. Ein kleines Beispiel!"),
    ("push button", "Adresse lesen", "Adresse vorlesen."),
    ("push button", "Exit", "Exit, Programm Fenster schließen!"),
    ("push button", "Pause [F2]", "Pause beim sprechen [F2]."),
    ("push button", "Weiter [F3]", "Weiter sprechen [F3]."),
    ("push button", "Stop [F4]", "Stop beim sprechen [F4]."),
    ("push button", "Nochmal [F5]", "Nochmal sprechen [F5]."),
]

# The options window's list: the default options file, line by line.
DEFAULT_OPTION_LINES = ["[optionen]", "AktivesFenster=1", "AktiverButton=1", "BeiTextURL=0",
                        "BeiText=0", "LesenOhne1=Falsch", "LesenOhne=Wahr",
                        re.compile(r"URLAdessenfeld=http://[^/]+/chat/chat1\.ok"),
                        "stimme=#voice=name:qvx.de.tonra#"]

QUESTION_SPOKEN = ("Soll die Programm Änderungen gespeichert werden? "
                   "Buchstabe J. für Ja . N. für Nein!")

# The document placed beside the program (Windows-1252, CR LF line ends) and
# what reading it must hand to the page: the paragraphs with CR LF between
# them and after the last one.
BRIEF_NAME = "brief.txt"
BRIEF_BYTES = "Lieber Hans,\r\nschöne Grüße aus Köln.\r\n".encode("cp1252")
BRIEF_SPOKEN = "Lieber Hans,\r\nschöne Grüße aus Köln.\r\n"

# The text served on loopback.
WEB_PATH = "/gruss.txt"
WEB_TEXT = "Hallo aus dem Netz: Äpfel, Öfen und Übermut für 5 €."

SCRATCH_TEXT = "Grüße aus Köln, Straße 5"


# ---------------------------------------------------------------------------
# Results.

class Results:
    def __init__(self):
        self.passed = 0
        self.failed = 0
        self.failures = []
        self.notes = []

    def check(self, name, ok, detail=""):
        if ok:
            self.passed += 1
            print(f"  ok    {name}", flush=True)
        else:
            self.failed += 1
            self.failures.append((name, detail))
            print(f"  FAIL  {name}", flush=True)
            if detail:
                for line in str(detail).splitlines():
                    print(f"          {line}", flush=True)
        return ok

    def note(self, text):
        self.notes.append(text)
        print(f"  note  {text}", flush=True)


R = Results()
DOUBLED_CAPTIONS = set()  # menu captions said twice in a row as the keyboard walked the menus


def group(title):
    print(f"\n== {title}", flush=True)


def show(value, limit=300):
    text = repr(value)
    return text if len(text) <= limit else text[:limit] + "...'"


# ---------------------------------------------------------------------------
# Child processes: all of them are ended when the script ends, however it ends.

CHILDREN = []


def spawn(argv, **kwargs):
    proc = subprocess.Popen(argv, **kwargs)
    CHILDREN.append(proc)
    return proc


def end_process(proc, grace=3.0):
    if proc is None or proc.poll() is not None:
        return
    try:
        proc.send_signal(signal.SIGCONT)
        proc.terminate()
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        try:
            proc.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            pass
    except ProcessLookupError:
        pass


def end_children():
    for proc in reversed(CHILDREN):
        end_process(proc)


atexit.register(end_children)


def on_signal(signum, _frame):
    end_children()
    sys.exit(128 + signum)


signal.signal(signal.SIGTERM, on_signal)
signal.signal(signal.SIGINT, on_signal)


def require_tools():
    missing = [t for t in ("Xvfb", "xdotool", "xmessage", "import") if shutil.which(t) is None]
    return missing


# ---------------------------------------------------------------------------
# The X server.

class Xvfb:
    def __init__(self, log):
        self.proc = None
        self.display = None
        self.log = log

    @staticmethod
    def taken(n):
        return os.path.exists(f"/tmp/.X11-unix/X{n}") or os.path.exists(f"/tmp/.X{n}-lock")

    def start(self, first=140, last=400):
        for n in range(first, last):
            if self.taken(n):
                continue
            proc = spawn(["Xvfb", f":{n}", "-nolisten", "tcp", "-screen", "0", "1024x768x24",
                          "-noreset"], stdout=subprocess.DEVNULL, stderr=self.log)
            if self.wait_ready(proc, n):
                self.proc, self.display = proc, f":{n}"
                return True
            end_process(proc)  # lost a race for the number, or it failed: next one
        return False

    @staticmethod
    def wait_ready(proc, n, timeout=15.0):
        path = f"/tmp/.X11-unix/X{n}"
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if proc.poll() is not None:
                return False
            if os.path.exists(path):
                s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                try:
                    s.connect(path)
                    return True
                except OSError:
                    pass
                finally:
                    s.close()
            time.sleep(0.05)
        return False

    def stop(self):
        end_process(self.proc)


# ---------------------------------------------------------------------------
# xdotool and screenshots.

class Desk:
    def __init__(self, display):
        self.env = dict(os.environ, DISPLAY=display)

    def run(self, *args, timeout=10.0):
        try:
            r = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                               timeout=timeout)
            return r.returncode, r.stdout.strip()
        except subprocess.TimeoutExpired:
            return -1, ""

    def key(self, *keys, pause=0.0):
        self.run("key", "--clearmodifiers", *keys)
        if pause:
            time.sleep(pause)

    def type(self, text):
        self.run("type", "--delay", "40", text, timeout=30.0)

    def find(self, title_regex, timeout=10.0, alive=lambda: True):
        """A visible window whose name matches, waited for up to `timeout`
        (and only while `alive()` holds)."""
        deadline = time.monotonic() + timeout
        while True:
            rc, out = self.run("search", "--onlyvisible", "--name", title_regex, timeout=5.0)
            if rc == 0 and out:
                return out.split()[0]
            if time.monotonic() >= deadline or not alive():
                return None
            time.sleep(0.1)

    def focus(self, window):
        rc, _ = self.run("windowfocus", "--sync", window, timeout=5.0)
        return rc == 0

    def shot(self, window, path):
        """PNG of a window; also returns its pixels (width, height, RGB bytes) or None."""
        try:
            png = subprocess.run(["import", "-window", window, path], env=self.env,
                                 capture_output=True, timeout=20)
            ppm = subprocess.run(["import", "-window", window, "-depth", "8", "ppm:-"], env=self.env,
                                 capture_output=True, timeout=20)
        except subprocess.TimeoutExpired:
            return None
        if png.returncode != 0 or ppm.returncode != 0:
            return None
        return parse_ppm(ppm.stdout)


def parse_ppm(data):
    # P6, width, height, maxval, then RGB bytes; comments are not written by import.
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    if not m or int(m.group(3)) != 255:
        return None
    w, h = int(m.group(1)), int(m.group(2))
    pixels = data[m.end():m.end() + w * h * 3]
    if len(pixels) != w * h * 3:
        return None
    return w, h, pixels


def count_colour(image, rgb):
    if image is None:
        return -1
    return _count_rgb(image[2], bytes(rgb))


def _count_rgb(pixels, rgb):
    n = 0
    start = 0
    while True:
        i = pixels.find(rgb, start)
        if i < 0:
            return n
        if i % 3 == 0:
            n += 1
            start = i + 3
        else:
            start = i + 1


def distinct_colours(image, sample=4000):
    if image is None:
        return 0
    px = image[2]
    step = max(3, (len(px) // 3 // sample) * 3)
    return len({px[i:i + 3] for i in range(0, len(px) - 2, step)})


YELLOW = (0xFF, 0xFF, 0x80)  # the focus highlight
RED = (0xFF, 0x00, 0x00)     # the highlight of "Exit"


# ---------------------------------------------------------------------------
# The program's data folder: speech files and the page's journal.

class Click:
    def __init__(self, time_text, button, text):
        self.time, self.button, self.text = time_text, button, text

    def __repr__(self):
        return f"{self.button}: {show(self.text, 160)}"


def unescape_journal(text):
    return text.replace("\\r", "\r").replace("\\n", "\n")


class Journal:
    def __init__(self, path):
        self.path = path
        self.offset = 0

    def skip_to_end(self):
        self.offset = os.path.getsize(self.path) if os.path.exists(self.path) else 0

    def read_new(self):
        if not os.path.exists(self.path):
            return []
        with open(self.path, "rb") as f:
            f.seek(self.offset)
            data = f.read()
        end = data.rfind(b"\n")
        if end < 0:
            return []
        self.offset += end + 1
        clicks = []
        for raw in data[:end].split(b"\n"):
            parts = raw.decode("utf-8", "replace").split("\t", 2)
            if len(parts) == 3:
                clicks.append(Click(parts[0], parts[1], unescape_journal(parts[2])))
            else:
                clicks.append(Click("", "?", raw.decode("utf-8", "replace")))
        return clicks


class DataFolder:
    def __init__(self, app):
        self.folder = os.path.join(app, "lesemund")
        self.journal = Journal(os.path.join(self.folder, "journal.txt"))

    def bytes_of(self, name):
        try:
            with open(os.path.join(self.folder, name), "rb") as f:
                return f.read()
        except OSError:
            return None


def said(button, text, directive=True):
    """An expected click: the button, and the text the page read for it."""
    return (button, (DIRECTIVE if directive else "") + text)


def window_title_click(title):
    return said("fenster1", title + "\r\n")


# While the switch "Aktives Fenster automatisch sprechen" is on, the task window
# speaks the topmost window's title whenever it changes; those clicks may come
# in between any step and are legitimate.
BACKGROUND_TITLES = {MAIN_TITLE, TASK_TITLE, SECOND_TITLE, QUESTION_TITLE}


def is_background(click):
    return click.button == "fenster1" and any(
        click.text == DIRECTIVE + t + "\r\n" for t in BACKGROUND_TITLES)


def match_clicks(actual, expected, tolerate=is_background):
    """Matches the clicks against the expected ones in order; tolerated clicks
    may stand in between. Returns (ok, detail)."""
    i = 0
    unexpected = []
    for c in actual:
        if i < len(expected) and (c.button, c.text) == expected[i]:
            i += 1
        elif tolerate(c):
            continue
        else:
            unexpected.append(c)
    missing = expected[i:]
    if not unexpected and not missing:
        return True, ""
    lines = []
    if missing:
        lines.append("missing: " + "; ".join(f"{b}: {show(t, 160)}" for b, t in missing))
    if unexpected:
        lines.append("unexpected: " + "; ".join(repr(c) for c in unexpected))
    lines.append("all new clicks: " + ("; ".join(repr(c) for c in actual) or "(none)"))
    return False, "\n".join(lines)


# ---------------------------------------------------------------------------
# The program under test.

class Program:
    def __init__(self, app, display, log, runtime_dir, extra_env=None):
        self.extra_env = extra_env or {}
        self.app = app
        self.display = display
        self.log = log
        self.runtime_dir = runtime_dir
        self.proc = None
        self.window = None
        self.started = 0.0

    def start(self):
        env = dict(os.environ)
        env.update(DISPLAY=self.display, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=self.runtime_dir,
                   LANG="C.UTF-8")
        # No session bus of the caller's: the program sees only what the
        # suite gives it.
        # nor the caller's language settings (LANG alone decides).
        for name in ("QT_ACCESSIBILITY", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON",
                     "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "LANGUAGE",
                     *[k for k in env if k.startswith("LC_")]):
            env.pop(name, None)
        env.update(self.extra_env)
        self.started = time.monotonic()
        self.proc = spawn([os.path.join(self.app, "tastvolk-lesemund")], cwd=self.app, env=env,
                          stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        return self.proc

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def wait_end(self, timeout):
        try:
            self.proc.wait(timeout=timeout)
            return True
        except subprocess.TimeoutExpired:
            return False

    def stop(self):
        end_process(self.proc)

    def freeze(self):
        os.kill(self.proc.pid, signal.SIGSTOP)

    def thaw(self):
        os.kill(self.proc.pid, signal.SIGCONT)


class Session:
    """One run of the program with its checks."""

    def __init__(self, desk, data, program):
        self.desk = desk
        self.data = data
        self.program = program

    # -- waiting for clicks ------------------------------------------------

    def collect(self, want, timeout=4.0, settle=0.35, tolerate=is_background):
        """New clicks, waiting until `want` clicks that are not tolerated
        arrived (or the time is up), then a little longer for stragglers."""
        clicks = []
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.program.alive():
            clicks += self.data.journal.read_new()
            if sum(1 for c in clicks if not tolerate(c)) >= want:
                break
            time.sleep(0.05)
        end = time.monotonic() + (settle if self.program.alive() else 0.0)
        while time.monotonic() < end:
            time.sleep(0.05)
            clicks += self.data.journal.read_new()
        return clicks

    def expect(self, name, expected, timeout=4.0, settle=0.35, tolerate=is_background):
        if not self.program.alive():
            R.check(name, False, "the program is no longer running "
                    f"(exit status {self.program.proc.returncode})")
            return []
        clicks = self.collect(len(expected), timeout, settle, tolerate)
        ok, detail = match_clicks(clicks, expected, tolerate)
        if not self.program.alive():
            ok, detail = False, (detail + "\n" if detail else "") + "the program ended during this step"
        R.check(name, ok, detail)
        return clicks

    def press(self, name, keys, expected, **kw):
        self.data.journal.read_new()  # whatever came before belongs to no step
        self.desk.key(*keys)
        return self.expect(name, expected, **kw)

    def file_is(self, name, file, expected_bytes):
        actual = self.data.bytes_of(file)
        return R.check(name, actual == expected_bytes,
                       f"{file}: expected {show(expected_bytes)}\n{file}: actual   {show(actual)}")

    def text_file_is(self, name, text, directive=True):
        return self.file_is(name, "text.txt", ((DIRECTIVE if directive else "") + text).encode("cp1252"))

    def window_file_is(self, name, text, directive=True):
        return self.file_is(name, "fenster.txt", ((DIRECTIVE if directive else "") + text).encode("cp1252"))

    # -- the menu bar -------------------------------------------------------

    def walk_menu(self, menu, item, opener="F10"):
        """Opens the menu bar from the keyboard and walks to an item with the
        arrow keys; returns the clicks made on the way (the announcements of
        the highlighted menus and items)."""
        self.data.journal.read_new()
        self.desk.key(opener, pause=0.35)
        # Down opens the highlighted first menu with its first item
        # highlighted; Right then moves to the next menu, opened the same way.
        self.desk.key("Down", pause=0.25)
        for _ in range(menu):
            self.desk.key("Right", pause=0.25)
        for _ in range(item):
            self.desk.key("Down", pause=0.25)
        return self.collect(0, timeout=0.2, settle=0.4)

    def choose(self, name, menu, item, expected, check_walk=True, opener="F10", back_to=None,
               **kw):
        """Chooses a menu item from the keyboard. `back_to` is the focus text
        of the control that had the focus: when the menu closes the focus goes
        back there, and saying so again is no fault."""
        walk = self.walk_menu(menu, item, opener)
        _title, items = MENUS[menu]
        if check_walk:
            announced = [c for c in walk if not is_background(c)]
            caption = items[item]
            R.check(f"{name}: the highlighted item is announced ({caption})",
                    bool(announced) and announced[-1].text == DIRECTIVE + caption,
                    "announcements on the way: " + ("; ".join(map(repr, announced)) or "(none)"))
            doubled = [a.text[len(DIRECTIVE):] for a, b in zip(announced, announced[1:])
                       if (a.button, a.text) == (b.button, b.text)]
            DOUBLED_CAPTIONS.update(doubled)
        else:
            R.check(f"{name}: walking the menu says nothing while button reading is off",
                    not [c for c in walk if not is_background(c)],
                    "clicks: " + "; ".join(map(repr, walk)))

        def tolerate(c):
            return is_background(c) or (back_to is not None and c.text == DIRECTIVE + back_to)
        return self.press(f"{name}: Enter chooses it", ["Return"], expected, tolerate=tolerate, **kw)


# ---------------------------------------------------------------------------
# Catching the task window: it is shown for one polling step (200 ms) and
# hides itself; the program is frozen for the moment of the screenshot.

class TaskWindowCatcher(threading.Thread):
    def __init__(self, desk, program, path):
        super().__init__(daemon=True)
        self.desk, self.program, self.path = desk, program, path
        self.stop_event = threading.Event()
        self.caught = False
        self.detail = "not seen"

    def run(self):
        while not self.stop_event.is_set() and self.program.alive():
            rc, out = self.desk.run("search", "--onlyvisible", "--name", r"^\.\.\.$", timeout=3.0)
            if rc == 0 and out:
                time.sleep(0.04)  # let it paint
                try:
                    self.program.freeze()
                    image = self.desk.shot(out.split()[0], self.path)
                finally:
                    self.program.thaw()
                if image is not None and distinct_colours(image) > 3:
                    self.caught = True
                    self.detail = f"{image[0]}x{image[1]}"
                    return
                self.detail = "seen, but the screenshot was empty"
                time.sleep(0.5)
            time.sleep(0.015)

    def stop(self):
        self.stop_event.set()
        self.join(timeout=5)


# ---------------------------------------------------------------------------
# The loopback web server.

class TextServer:
    def __init__(self):
        self.requests = []
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                outer.requests.append((self.path, self.headers.get("User-Agent", "")))
                if self.path == WEB_PATH:
                    body = WEB_TEXT.encode("cp1252")
                    self.send_response(200)
                    self.send_header("Content-Type", "text/plain; charset=windows-1252")
                else:
                    body = b"nicht da"
                    self.send_response(404)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *_args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def close(self):
        self.server.shutdown()
        self.server.server_close()


# ---------------------------------------------------------------------------
# Preparing the application folder.

def prepare_app(bin_dir, work, start_address):
    app = os.path.join(work, "app")
    os.makedirs(app)
    shutil.copy2(os.path.join(bin_dir, "tastvolk-lesemund"), app)
    shutil.copytree(os.path.join(bin_dir, "lesemund"), os.path.join(app, "lesemund"))
    data = os.path.join(app, "lesemund")
    for stale in ("journal.txt", "text.txt", "fenster.txt"):
        try:
            os.remove(os.path.join(data, stale))
        except FileNotFoundError:
            pass

    # The speech page: silent, with a journal of every click.
    sp = os.path.join(data, "sp")
    with open(sp, "rb") as f:
        page = f.read().decode("utf-8")
    form = re.search(r"<form\b[^>]*>", page, re.IGNORECASE)
    if not form:
        raise RuntimeError("the speech page has no <form> tag")
    tag = form.group(0)
    tag = re.sub(r"\s+data-(output|journal)\s*=\s*(\"[^\"]*\"|'[^']*'|[^\s>]+)", "", tag,
                 flags=re.IGNORECASE)
    tag = tag[:-1].rstrip() + ' data-output="none" data-journal="journal.txt">'
    with open(sp, "wb") as f:
        f.write((page[:form.start()] + tag + page[form.end():]).encode("utf-8"))

    # The options file as shipped, but with an address on loopback without
    # any reading marker, so that no timer of the program reaches out.
    ini = os.path.join(data, "optionen.ini")
    with open(ini, "rb") as f:
        lines = f.read().split(b"\r\n")
    lines = [b"URLAdessenfeld=" + start_address.encode("cp1252")
             if l.lower().startswith(b"urladessenfeld=") else l for l in lines]
    with open(ini, "wb") as f:
        f.write(b"\r\n".join(lines))

    with open(os.path.join(app, BRIEF_NAME), "wb") as f:
        f.write(BRIEF_BYTES)
    return app


def read_ini(data):
    values = {}
    order = []
    for line in data.split(b"\r\n"):
        if b"=" in line and not line.startswith(b"["):
            k, v = line.split(b"=", 1)
            values[k.decode("cp1252")] = v.decode("cp1252")
            order.append(k.decode("cp1252"))
    return values, order


# ---------------------------------------------------------------------------
# The runs.

def start_program(desk, data, program, catcher_path=None, name="start"):
    program.start()
    catcher = None
    if catcher_path:
        catcher = TaskWindowCatcher(desk, program, catcher_path)
        catcher.start()
    window = desk.find(f"^{MAIN_TITLE}$", timeout=25.0, alive=program.alive)
    if not R.check(f"{name}: the main window \"{MAIN_TITLE}\" appears", window is not None,
                   "the program is still running" if program.alive() else
                   f"the program ended with status {program.proc.returncode}"):
        if catcher:
            catcher.stop()
        return None, None
    program.window = window
    R.check(f"{name}: the main window takes the X input focus", desk.focus(window))
    return window, catcher


def first_announcement(session, name, button="user1"):
    # Nothing but the file list's focus text may come first: what the options
    # file switches while it loads is not spoken.
    clicks = session.collect(1, timeout=10.0, settle=0.3)
    first = [c for c in clicks if not is_background(c)]
    R.check(f"{name}: the first announcement is the file list's focus text ({button})",
            bool(first) and (first[0].button, first[0].text) == said(button, FILE1_TEXT),
            "clicks: " + ("; ".join(map(repr, clicks)) or "(none)"))
    R.check(f"{name}: nothing else is announced at start",
            len(first) == 1, "clicks: " + "; ".join(map(repr, clicks)))
    return clicks


def run_no_display(app):
    group("Without a graphical desktop")
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    for name, extra in (("no DISPLAY", {}), ("a display nobody serves", {"DISPLAY": ":%d" % next(n for n in range(600, 900) if not Xvfb.taken(n))})):
        try:
            r = subprocess.run([os.path.join(app, "tastvolk-lesemund")], cwd=app, env=dict(env, **extra),
                               capture_output=True, timeout=20)
            rc, err = r.returncode, r.stderr.decode("utf-8", "replace")
        except subprocess.TimeoutExpired:
            rc, err = None, "(still running after 20 s)"
        R.check(f"{name}: one German line on stderr and exit status 1",
                rc == 1 and err.count("\n") == 1 and "Keine grafische Arbeitsfläche" in err,
                f"status {rc}, stderr: {show(err)}")


def run_main(args, desk, work, app, data, log, server):
    program = Program(app, desk.env["DISPLAY"], log, os.path.join(work, "runtime"))
    s = Session(desk, data, program)
    shots = args.artifacts

    group("Start-up")
    window, catcher = start_program(desk, data, program, os.path.join(shots, "aufgabenfenster.png"))
    if window is None:
        return False
    early = first_announcement(s, "start")
    s.text_file_is("start: text.txt holds the directive and the file list's focus text", FILE1_TEXT)
    image = desk.shot(window, os.path.join(shots, "hauptfenster-start.png"))
    R.check("start: screenshot of the main window written (artifacts/hauptfenster-start.png)",
            image is not None and distinct_colours(image) > 10)
    R.check("start: the focused file list is highlighted in light yellow",
            count_colour(image, YELLOW) > 2000, f"yellow pixels: {count_colour(image, YELLOW)}")
    R.check("start: nothing is highlighted in red", count_colour(image, RED) < 50,
            f"red pixels: {count_colour(image, RED)}")

    # The task window shows itself 1.5 s after start for one polling step:
    # its own caption on top is spoken, then the main window's title.
    later = s.collect(99, timeout=4.0, settle=0.0, tolerate=lambda c: False)
    clicks = [c for c in early if c.button == "fenster1"] + later
    titles = [c for c in clicks if c.button == "fenster1"]
    R.check("start: the active window's title is spoken (fenster1, directive + title + CR LF)",
            bool(titles) and (titles[-1].button, titles[-1].text) == window_title_click(MAIN_TITLE),
            "clicks: " + ("; ".join(map(repr, clicks)) or "(none)"))
    R.check("start: no other click while the task window starts",
            all(is_background(c) for c in clicks), "clicks: " + "; ".join(map(repr, clicks)))
    s.window_file_is("start: fenster.txt holds the directive, the main window's title and CR LF",
                     MAIN_TITLE + "\r\n")
    if catcher:
        catcher.stop()

    group("Tab cycle through the trap")
    for i, (control, text) in enumerate(TAB_CYCLE):
        s.press(f"Tab {i + 1}: {control}", ["Tab"], [said("user1", text)], timeout=3.0, settle=0.15)
        s.text_file_is(f"Tab {i + 1}: text.txt bytes", text)
        if control == "Exit":
            image = desk.shot(window, os.path.join(shots, "hauptfenster-exit.png"))
            R.check("Tab on Exit: \"Exit\" is highlighted in red", count_colour(image, RED) > 300,
                    f"red pixels: {count_colour(image, RED)}")
        if control == "Pause [F2]":
            image = desk.shot(window, os.path.join(shots, "hauptfenster-pause.png"))
            R.check("Tab on Pause: the red highlight of \"Exit\" is gone",
                    count_colour(image, RED) < 50, f"red pixels: {count_colour(image, RED)}")
            R.check("Tab on Pause: the focused button is highlighted in light yellow",
                    count_colour(image, YELLOW) > 300, f"yellow pixels: {count_colour(image, YELLOW)}")

    group("F1 to F5")
    s.press("Tab to \"Auswahl lesen\"", ["Tab"], [said("user1", TAB_CYCLE[0][1])])
    for key, button in (("F1", "Sprech"), ("F2", "pause"), ("F3", "Weiter"), ("F4", "Stop"),
                        ("F5", "Nochmal"), ("shift+F4", "Stop")):
        s.data.journal.read_new()
        desk.key(key)
        clicks = s.collect(1, timeout=3.0, settle=0.4)
        mine = [c for c in clicks if not is_background(c)]
        R.check(f"{key} clicks {button} once", [c.button for c in mine] == [button],
                "clicks: " + ("; ".join(map(repr, clicks)) or "(none)"))
    with open(os.path.join(data.folder, "hilfe.txt"), "rb") as f:
        help_bytes = f.read()

    group("Scratch field")
    s.press("Ctrl+T: focus to the scratch field", ["ctrl+t"], [said("user1", TEXT3_FOCUS)])
    # F1 put the help text into the field; the menu item reads it.
    s.choose("Lesen > Textfeld vorlesen", 1, 4,
             [said("user2", help_bytes.decode("cp1252"), directive=False)], settle=0.6,
             back_to=TEXT3_FOCUS)
    s.file_is("F1 loaded the help text into the scratch field (text.txt = hilfe.txt)",
              "text.txt", help_bytes)
    # The focus came back to the scratch field: Delete and Enter below act
    # there. Ctrl+T on the focused field announces it once more.
    s.press("Ctrl+T on the focused scratch field announces it again",
            ["ctrl+t"], [said("user1", TEXT3_FOCUS)])
    s.press("Delete in the scratch field says nothing", ["Delete"], [], timeout=0.0, settle=0.5)
    s.press("Enter after Delete reads an empty field (Delete cleared all of it)", ["Return"],
            [said("user2", "", directive=False)])
    s.file_is("text.txt is empty", "text.txt", b"")
    s.press("Delete again", ["Delete"], [], timeout=0.0, settle=0.3)
    s.data.journal.read_new()
    desk.type(SCRATCH_TEXT)
    s.expect("typing says nothing", [], timeout=0.0, settle=0.5)
    s.press("Enter reads the typed text (user2)", ["Return"],
            [said("user2", SCRATCH_TEXT, directive=False)])
    s.text_file_is("text.txt holds exactly the typed text, Windows-1252, no directive",
                   SCRATCH_TEXT, directive=False)
    s.press("F2 in the scratch field pauses once", ["F2"], [said("pause", "", False)])

    group("Reading mode with the arrow keys")
    s.press("Ctrl+F: focus to the file list", ["ctrl+f"], [said("user1", FILE1_TEXT)])
    for control, text in TAB_CYCLE[:5]:
        s.press(f"Tab to {control}", ["Tab"], [said("user1", text)], settle=0.15)
    s.press("Down selects \"Vorlesen ohne Abbruch bis Ende.\" (now through user2)", ["Down"],
            [said("user2", OPTION_MODE0_TEXT)])
    s.text_file_is("text.txt after Down", OPTION_MODE0_TEXT)
    s.press("Tab: the next announcement goes through user2", ["Tab"],
            [said("user2", CHECK1_ON_FOCUS)])
    s.press("Shift+Tab back to the option pair", ["shift+Tab"], [said("user2", OPTION_MODE0_TEXT)])
    s.press("Up selects \"Vorlesen bei neuer Datei Abbruch.\" (user1 again)", ["Up"],
            [said("user1", OPTION_MODE1_TEXT)])
    s.text_file_is("text.txt after Up", OPTION_MODE1_TEXT)

    group("A document read from the list")
    s.press("Ctrl+F: focus to the file list", ["ctrl+f"], [said("user1", FILE1_TEXT)])
    s.press(f"Down selects {BRIEF_NAME}: its name is spoken (fenster1)", ["Down"],
            [said("fenster1", BRIEF_NAME)])
    s.window_file_is("fenster.txt holds the directive and the file name, no line end", BRIEF_NAME)
    s.press("Enter reads the document (user1)", ["Return"], [said("user1", BRIEF_SPOKEN)],
            timeout=20.0, settle=0.5)
    s.text_file_is("text.txt holds the directive, the paragraphs with CR LF, and CR LF",
                   BRIEF_SPOKEN)

    group("The menu bar from the keyboard")
    # The focus is on the file list. Leaving the menu bar gives it back; the
    # list may say so again, and Tab then goes on from the list.
    back = lambda c: is_background(c) or c.text == DIRECTIVE + FILE1_TEXT
    for opener, how in (("F10", "F10"), ("alt", "Alt pressed and released")):
        s.press(f"{how} opens the menu bar: \"Felder\" is announced", [opener],
                [said("user1", "Felder")], settle=0.4)
        s.press(f"{how}, Escape: leaves the menu bar", ["Escape"], [], timeout=0.0, settle=0.5,
                tolerate=back)
        s.press(f"{how}, Escape: the focus is back on the file list (Tab goes on from there)",
                ["Tab"], [said("user1", TAB_CYCLE[0][1])], settle=0.3)
        s.press("Ctrl+F", ["ctrl+f"], [said("user1", FILE1_TEXT)], settle=0.3)

    group("The four switches through their menu items")
    s.choose("Automatisch > Hilfe Button lesen (off)", 2, 0,
             [said("user1", "Aktiver Button automatisch lesen. Ist inaktiv.")], back_to=FILE1_TEXT)
    s.text_file_is("text.txt: \"Ist inaktiv.\"", "Aktiver Button automatisch lesen. Ist inaktiv.")
    s.choose("Automatisch > Hilfe Button lesen (on)", 2, 0,
             [said("user1", "Aktiver Button automatisch lesen. Ist aktiviert.")], check_walk=False,
             back_to=FILE1_TEXT)
    s.choose("Automatisch > Aktives Fenster vorlesen (off)", 2, 1,
             [said("user1", "Aktives Fenster nicht mehr sprechen.")] * 2, back_to=FILE1_TEXT)
    catcher2 = None
    if not os.path.exists(os.path.join(shots, "aufgabenfenster.png")) or (
            catcher is not None and not catcher.caught):
        catcher2 = TaskWindowCatcher(desk, program, os.path.join(shots, "aufgabenfenster.png"))
        catcher2.start()
    early = s.choose("Automatisch > Aktives Fenster vorlesen (on)", 2, 1,
                     [said("user1", "Aktives Fenster automatisch sprechen.")] * 2,
                     back_to=FILE1_TEXT)
    clicks = [c for c in early if c.button == "fenster1"] + s.collect(
        99, timeout=4.0, settle=0.0, tolerate=lambda c: False)
    titles = [c for c in clicks if c.button == "fenster1"]
    R.check("switched on again: 1.5 s later the active window's title is spoken",
            bool(titles) and (titles[-1].button, titles[-1].text) == window_title_click(MAIN_TITLE),
            "clicks: " + ("; ".join(map(repr, clicks)) or "(none)"))
    if catcher2:
        catcher2.stop()
    caught = (catcher is not None and catcher.caught) or (catcher2 is not None and catcher2.caught)
    R.check("screenshot of the task window written (artifacts/aufgabenfenster.png)", caught,
            f"at start: {catcher.detail if catcher else '-'}; "
            f"after switching on: {catcher2.detail if catcher2 else '-'}")
    watcher_on = "Bei Auswahlfeld Text veränderung automatisch lesen. Ist aktiviert."
    watcher_off = "Bei Auswahlfeld Text veränderung automatisch lesen. Ist inaktiv."
    url_on = "Bei URL Adresse Text veränderung automatisch lesen. Ist aktiviert."
    url_off = "Bei URL Adresse Text veränderung automatisch lesen. Ist inaktiv."
    s.choose("Automatisch > Lokale Liste Auswahl bei veränderung lesen (on)", 2, 2,
             [said("user1", watcher_on)] * 2, back_to=FILE1_TEXT)
    s.choose("Automatisch > URL Adrese bei veränderung lesen (on; switches the other off)", 2, 3,
             [said("user1", url_on), said("user1", watcher_off), said("user1", watcher_off)], back_to=FILE1_TEXT)
    s.text_file_is("text.txt: the nested handler's text comes last", watcher_off)
    s.choose("Automatisch > URL Adrese bei veränderung lesen (off)", 2, 3, [said("user1", url_off)],
             back_to=FILE1_TEXT)
    s.text_file_is("text.txt: \"Ist inaktiv.\"", url_off)

    group("A text read from an address on loopback")
    address = server.url(WEB_PATH)
    s.press("Ctrl+U: focus to the address field", ["ctrl+u"], [said("user1", FURL_FOCUS)])
    s.press("Delete empties the address field, silently", ["Delete"], [], timeout=0.0, settle=0.4)
    s.data.journal.read_new()
    desk.type(address)
    s.expect("typing the address says nothing", [], timeout=0.0, settle=0.4)
    before = len(server.requests)
    s.choose("URL > URL Datei vorlesen [Enter]", 4, 3, [window_title_click(WEB_TEXT)],
             timeout=8.0, settle=0.5, back_to=FURL_FOCUS)
    s.window_file_is("fenster.txt holds the directive, the text and CR LF", WEB_TEXT + "\r\n")
    got = server.requests[before:]
    R.check("the server got one GET of the typed address", [p for p, _ in got] == [WEB_PATH],
            f"requests: {got}")
    R.check("the request names the agent \"Klarbit-5H\"",
            bool(got) and all(a == "Klarbit-5H" for _, a in got), f"requests: {got}")
    # The focus came back to the address field: the Tab below goes on from
    # there. Ctrl+U on the focused field announces it once more.
    s.press("Ctrl+U on the focused address field announces it again",
            ["ctrl+u"], [said("user1", "Focus ist auf Web Adressen Textfeld.")])
    s.press("Tab to \"Bei Text Veränderung automatisch lesen\"", ["Tab"],
            [said("user1", CHECK3_OFF_FOCUS)])
    s.press("Tab to \"URL Datei vorlesen\"", ["Tab"], [said("user1", COMMAND14_FOCUS)])
    before = len(server.requests)
    s.press("Space on \"URL Datei vorlesen\" reads the address again", ["space"],
            [window_title_click(WEB_TEXT)], timeout=8.0, settle=0.5)
    R.check("the server got a second GET", [p for p, _ in server.requests[before:]] == [WEB_PATH],
            f"requests: {server.requests[before:]}")
    s.press("Alt+S (\"Adresse lesen\") reads the address itself (user2, no directive)", ["alt+s"],
            [said("user2", address, directive=False)])
    s.text_file_is("text.txt holds exactly the address", address, directive=False)
    # Whatever the Alt key left open is closed again before the next step.
    desk.key("Escape", pause=0.3)
    desk.key("Escape", pause=0.3)
    s.data.journal.read_new()
    # Five seconds after the reading command, the check of the address
    # reader finds the text and says nothing.
    s.expect("nothing is said when the address reader's check finds text", [], timeout=0.0,
             settle=4.5)

    group("A second X window comes to the top")
    s.data.journal.read_new()
    xmessage = spawn(["xmessage", "-title", SECOND_TITLE, "-geometry", "+20+20", "hallo"],
                     env=desk.env, stdout=subprocess.DEVNULL, stderr=log)
    s.expect("its title is spoken (fenster1)", [window_title_click(SECOND_TITLE)], timeout=6.0,
             tolerate=lambda c: False)
    s.window_file_is("fenster.txt holds the directive, the title and CR LF", SECOND_TITLE + "\r\n")
    end_process(xmessage)
    s.expect("when it goes, the main window's title is spoken again",
             [window_title_click(MAIN_TITLE)], timeout=6.0, tolerate=lambda c: False)
    desk.focus(window)

    group("Exit, answered with N")
    ini_before = data.bytes_of("optionen.ini")
    s.press("Alt+E after a change: the question is spoken (fenster1, no line end)", ["alt+e"],
            [said("fenster1", QUESTION_SPOKEN)], settle=0.6)
    # fenster.txt itself is checked at the second exit: here the task window
    # speaks the box's title as soon as it is on top, which replaces the file.
    box = desk.find(f"^{QUESTION_TITLE}$", timeout=8.0)
    R.check(f"the box \"{QUESTION_TITLE}\" appears", box is not None)
    if box:
        desk.shot(box, os.path.join(shots, "warnung.png"))
        desk.focus(box)
    desk.key("n")
    R.check("N: the program ends", program.wait_end(15.0))
    R.check("N: optionen.ini is left unchanged", data.bytes_of("optionen.ini") == ini_before)
    program.stop()
    return True


def run_exit_yes(desk, work, app, data, log):
    program = Program(app, desk.env["DISPLAY"], log, os.path.join(work, "runtime"))
    s = Session(desk, data, program)
    data.journal.skip_to_end()
    ini_before = data.bytes_of("optionen.ini")
    values_before, order_before = read_ini(ini_before or b"")

    group("Second start: exit answered with J")
    window, _ = start_program(desk, data, program, name="second start")
    if window is None:
        return False
    first_announcement(s, "second start")
    # Changes in the first four seconds do not count; wait them out.
    time.sleep(max(0.0, 4.6 - (time.monotonic() - program.started)))
    s.data.journal.read_new()
    s.choose("Automatisch > Aktives Fenster vorlesen (off)", 2, 1,
             [said("user1", "Aktives Fenster nicht mehr sprechen.")] * 2)
    s.press("Ctrl+F", ["ctrl+f"], [said("user1", FILE1_TEXT)])
    for control, text in TAB_CYCLE[:5]:
        s.press(f"Tab to {control}", ["Tab"], [said("user1", text)], settle=0.15)
    s.press("Down: \"Vorlesen ohne Abbruch bis Ende.\"", ["Down"], [said("user2", OPTION_MODE0_TEXT)])
    s.press("Alt+E: the question is spoken", ["alt+e"], [said("fenster1", QUESTION_SPOKEN)],
            settle=0.6)
    s.window_file_is("fenster.txt holds the directive and the question, no line end",
                     QUESTION_SPOKEN)
    box = desk.find(f"^{QUESTION_TITLE}$", timeout=8.0)
    R.check(f"the box \"{QUESTION_TITLE}\" appears", box is not None)
    if box:
        desk.focus(box)
    desk.key("j")
    R.check("J: the program ends", program.wait_end(15.0))
    program.stop()
    after = data.bytes_of("optionen.ini") or b""
    values, order = read_ini(after)
    expected = dict(values_before)
    expected.update({"AktivesFenster": "0", "AktiverButton": "1", "BeiTextURL": "0", "BeiText": "0",
                     "LesenOhne": "Falsch", "LesenOhne1": "Wahr"})
    R.check("J: optionen.ini holds the changed switch and reading mode, the rest as before",
            values == expected, f"before: {values_before}\nafter:  {values}\nexpected: {expected}")
    R.check("J: optionen.ini keeps its lines in their order, with CR LF",
            order == order_before and after.startswith(b"[optionen]\r\n"),
            f"before: {order_before}\nafter:  {order}\nbytes: {show(after)}")
    return True


def run_no_change(desk, work, app, data, log):
    program = Program(app, desk.env["DISPLAY"], log, os.path.join(work, "runtime"))
    s = Session(desk, data, program)
    data.journal.skip_to_end()
    ini_before = data.bytes_of("optionen.ini")

    group("Third start: the saved options apply; exit without a change")
    window, _ = start_program(desk, data, program, name="third start")
    if window is None:
        return False
    # The saved reading mode sends announcements through user2; the switch
    # that the options file turns off says nothing while the options load.
    clicks = first_announcement(s, "third start", button="user2")
    time.sleep(max(0.0, 4.6 - (time.monotonic() - program.started)))
    clicks += s.data.journal.read_new()
    R.check("third start: with the saved switch off, no window title is spoken",
            not [c for c in clicks if c.button == "fenster1"],
            "clicks: " + "; ".join(map(repr, clicks)))
    s.data.journal.read_new()
    desk.key("alt+e")
    box = desk.find(f"^{QUESTION_TITLE}$", timeout=2.0, alive=program.alive)
    R.check("Alt+E without a change: no question box is shown", box is None)
    if box:
        desk.focus(box)
        desk.key("n")
    ended = program.wait_end(15.0)
    R.check("Alt+E without a change: the program ends", ended)
    rest = [c for c in s.data.journal.read_new() if not is_background(c)]
    R.check("Alt+E without a change: nothing is asked or said", not rest,
            "clicks: " + "; ".join(map(repr, rest)))
    R.check("optionen.ini is unchanged", data.bytes_of("optionen.ini") == ini_before)
    program.stop()
    return True


class AccessibilityBus:
    """A private session bus with the accessibility bus behind it."""

    def __init__(self, display, log):
        self.display, self.log = display, log
        self.address = None

    def start(self):
        if not shutil.which("dbus-daemon") or not os.access(ATSPI_LAUNCHER, os.X_OK):
            return False
        daemon = spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                       stdout=subprocess.PIPE, stderr=self.log, stdin=subprocess.DEVNULL)
        line = read_line_with_timeout(daemon.stdout, 10.0)
        if not line:
            return False
        self.address = line.decode().strip()
        spawn([ATSPI_LAUNCHER, "--launch-immediately"], env=self.env(), stdout=self.log,
              stderr=self.log, stdin=subprocess.DEVNULL)
        return True

    def env(self):
        return dict(os.environ, DISPLAY=self.display, DBUS_SESSION_BUS_ADDRESS=self.address)

    def probe(self, press=None, timeout=40.0):
        argv = [SYSTEM_PYTHON, os.path.join(HERE, "atspi_probe.py"), MAIN_TITLE]
        if press:
            argv += ["--press", press]
        try:
            r = subprocess.run(argv, env=self.env(), capture_output=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            return None, "the probe did not answer"
        if r.returncode != 0:
            return None, r.stderr.decode("utf-8", "replace")[-800:]
        try:
            return json.loads(r.stdout.decode("utf-8")), ""
        except ValueError as e:
            return None, f"unreadable answer: {e}"


HERE = os.path.dirname(os.path.abspath(__file__))
ATSPI_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
SYSTEM_PYTHON = "/usr/bin/python3" if os.access("/usr/bin/python3", os.X_OK) else sys.executable


def read_line_with_timeout(stream, timeout):
    deadline = time.monotonic() + timeout
    data = b""
    while time.monotonic() < deadline and not data.endswith(b"\n"):
        ready, _, _ = select.select([stream], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        chunk = os.read(stream.fileno(), 4096)
        if not chunk:
            break
        data += chunk
    return data.splitlines()[0] if data.strip() else b""


def run_accessibility(args, desk, work, app, data, log):
    shots = args.artifacts
    group("What accessibility tools see; the options window")
    # This start uses the options file as shipped (the other runs point the
    # address field at loopback), so that its screenshot shows the window as
    # a user first sees it.
    shutil.copyfile(os.path.join(args.bin, "lesemund", "optionen.ini"),
                    os.path.join(data.folder, "optionen.ini"))
    # The options window is shown only by the hidden button "INI", which
    # neither Tab nor a shortcut reaches: the accessibility interface presses
    # it, for its screenshot only.
    bus = AccessibilityBus(desk.env["DISPLAY"], log)
    if not R.check("a private session bus with the accessibility bus runs", bus.start(),
                   f"needs dbus-daemon and {ATSPI_LAUNCHER}"):
        return False
    program = Program(app, desk.env["DISPLAY"], log, os.path.join(work, "runtime"),
                      extra_env={"DBUS_SESSION_BUS_ADDRESS": bus.address,
                                 "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"})
    data.journal.skip_to_end()
    window, _ = start_program(desk, data, program, name="fourth start")
    if window is None:
        return False
    # Let the task window show and hide itself first: it has the same caption.
    time.sleep(max(0.0, 3.0 - (time.monotonic() - program.started)))
    image = desk.shot(window, os.path.join(shots, "hauptfenster.png"))
    R.check("screenshot of the main window with the shipped options (artifacts/hauptfenster.png)",
            image is not None and distinct_colours(image) > 10)
    if args.readme_shot and image is not None:
        os.makedirs(os.path.dirname(os.path.abspath(args.readme_shot)), exist_ok=True)
        shutil.copyfile(os.path.join(shots, "hauptfenster.png"), args.readme_shot)
    tree, error = bus.probe()
    if not R.check("the program's accessibility tree can be read", tree is not None and tree["found"],
                   error or "the application did not register"):
        program.stop()
        return False
    nodes = tree["nodes"]
    for role, name, description in ACCESSIBLE:
        candidates = [n for n in nodes if n["role"] == role and (name is None or n["name"] == name)]
        label = name if name is not None else description[:40]
        R.check(f"accessible: {role} \"{label}\" has its focus text as description",
                any(n["description"] == description for n in candidates),
                f"expected: {show(description)}\nfound: "
                + ("; ".join(f"{n['name']!r}: {n['description']!r}" for n in candidates) or "no such control"))

    tree, error = bus.probe(press="push button:INI")
    R.check("the hidden button \"INI\" can be pressed", tree is not None and tree.get("pressed"),
            error)
    options = desk.find(r"^\.\.\.$", timeout=5.0)
    image = desk.shot(options, os.path.join(shots, "optionenfenster.png")) if options else None
    R.check("screenshot of the options window written (artifacts/optionenfenster.png)",
            image is not None and distinct_colours(image) > 3)
    if tree is not None:
        nodes = tree["nodes"]
        owner = next((n["path"].rsplit("/", 1)[0] for n in nodes
                      if n["role"] == "push button" and n["name"] == "Optionen Einlesen"), None)
        lines = [n["name"] for n in nodes if owner is not None and n["role"] == "list item"
                 and n["path"].startswith(owner + "/")]
        ok = len(lines) == len(DEFAULT_OPTION_LINES) and all(
            (e.fullmatch(l) is not None) if hasattr(e, "fullmatch") else e == l
            for e, l in zip(DEFAULT_OPTION_LINES, lines))
        R.check("the options window lists the nine default lines in order", ok, f"list: {lines}")
    program.stop()
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", required=True, help="the build's bin folder")
    parser.add_argument("--artifacts", help="folder for screenshots and logs")
    parser.add_argument("--readme-shot", help="also copy the main window's screenshot here")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    args = parser.parse_args()
    args.bin = os.path.abspath(args.bin)
    if not args.artifacts:
        args.artifacts = os.path.join(os.path.dirname(args.bin), "artifacts")
    args.artifacts = os.path.abspath(args.artifacts)
    os.makedirs(args.artifacts, exist_ok=True)

    started = time.monotonic()
    missing = require_tools()
    exe = os.path.join(args.bin, "tastvolk-lesemund")
    if missing or not os.access(exe, os.X_OK) or not os.path.isdir(os.path.join(args.bin, "lesemund")):
        R.check("tools and the built program are there", False,
                f"missing tools: {missing or 'none'}; program: {exe}")
        print(f"\n{R.passed} passed, {R.failed} failed")
        return 1

    work = tempfile.mkdtemp(prefix="lesemund-e2e-")
    runtime = os.path.join(work, "runtime")
    os.makedirs(runtime, mode=0o700)
    log_path = os.path.join(args.artifacts, "e2e-programm.log")
    log = open(log_path, "wb")
    server = TextServer()
    xvfb = Xvfb(log)
    try:
        app = prepare_app(args.bin, work, server.url("/start"))
        data = DataFolder(app)
        group("X server")
        if not R.check("a private Xvfb accepts connections", xvfb.start()):
            return 1
        print(f"  (display {xvfb.display}, folder {app})")
        desk = Desk(xvfb.display)
        run_no_display(app)
        if run_main(args, desk, work, app, data, log, server):
            run_accessibility(args, desk, work, app, data, log)
            run_exit_yes(desk, work, app, data, log)
            run_no_change(desk, work, app, data, log)
    finally:
        try:
            shutil.copyfile(os.path.join(work, "app", "lesemund", "journal.txt"),
                            os.path.join(args.artifacts, "e2e-journal.txt"))
        except OSError:
            pass
        end_children()
        xvfb.stop()
        server.close()
        log.close()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)

    if DOUBLED_CAPTIONS:
        R.notes.append("menu captions announced twice in a row while walking the menus: "
                       + ", ".join(sorted(DOUBLED_CAPTIONS)))
    if R.failures:
        print("\nFailed steps:")
        for name, _ in R.failures:
            print(f"  - {name}")
    if R.notes:
        print("\nNotes:")
        for text in R.notes:
            print(f"  - {text}")
    print(f"\n({time.monotonic() - started:.1f} s; artifacts in {args.artifacts})")
    print(f"{R.passed} passed, {R.failed} failed")
    return 0 if R.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
