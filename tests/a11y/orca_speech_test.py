"""What a real screen reader says about the running program: Orca, headless and silent, with every
utterance written to its debug file, on the program's private session bus and AT-SPI bus.

Usage: orca_speech_test.py PROGRAM [LSAN_SUPPRESSIONS]. Exits 77 (skipped) when Orca or another
tool is missing. Keys go in through xdotool as a user types them; the test waits for what Orca
says after each one. What Orca said is saved as orca-speech.txt in the working folder."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from desktop_session import Checks, DesktopSession, program_env, run_from_command_line
from program_texts import ABOUT_TEXTS, FINISHED, HELP_LINES, PLAYING

WHOLE_TEST_LIMIT_S = 270
# Orca answers within a second on an idle machine; the limit only stops a hang.
SPEECH_LIMIT_S = 20
PLAY_ALL_LIMIT_S = 60

# Orca's own start-up hook: speech goes nowhere, but is still logged as SPEECH OUTPUT; the log is
# written line by line, so that the test reads each utterance as soon as it is said.
CUSTOMIZATIONS = """import orca.debug
import orca.speech
orca.speech._initSpeechServer = lambda m, i: None
if orca.debug.debugFile is not None:
    orca.debug.debugFile.reconfigure(line_buffering=True)
"""
# An utterance ends at a quote that ends its line, or that only its voice settings (a dict or a list
# of them) follow; it may span lines, which the log indents.
UTTERANCE = re.compile(r"SPEECH OUTPUT: '(.*?)'(?: ?\[?\{[^\n]*\}\]?)?[ \t]*$",
                       re.DOTALL | re.MULTILINE)

# Each Tab from the low E string and what Orca says at that stop, in this order. A frame is named
# when the focus enters it, once.
TAB_STOPS = [
    ["A string push button.", "Push to play the A string."],
    ["Play every String panel.", "1 time.", "selected radio button",
     "Play every string one time."],
    ["Play All Strings push button.", "Push to play all the strings."],
    ["D string push button.", "Push to play the D string."],
    ["G string push button.", "Push to play the G string."],
    ["B string push button.", "Push to play the B string."],
    ["High E string push button.", "Push to play the high E string."],
    ["General panel.", "Rests panel.", "Short rest.", "selected radio button",
     "Play a short rest between the notes."],
    ["Chords panel.", "E Major push button.", "Push to play the E Major Chord."],
    ["G Major push button.", "Push to play the G Major Chord."],
    ["Lyravox image.",
     "Banner: electric guitars and the program's name. A click opens the About window."],
    ["General panel.", "Loop check box not checked.", "Click here to play endless again."],
    ["Low E string push button.", "Push to play the low E string."],
]
FRAMES = ["Play every String", "General", "Rests", "Chords"]
SHORT_REST_STOP = 7


class Speech:
    """Orca's utterances so far, read from its debug file."""

    def __init__(self, log_path):
        self.log_path = log_path
        self.heard = []

    def read(self):
        try:
            with open(self.log_path, encoding="utf-8", errors="replace") as log:
                self.heard = ["\n".join(line.strip() for line in text.split("\n")).strip()
                              for text in UTTERANCE.findall(log.read())]
        except FileNotFoundError:
            self.heard = []
        return self.heard

    def wait_for(self, phrases, since, what, limit_s=SPEECH_LIMIT_S):
        """Waits until the utterances after index `since` contain `phrases` in this order; returns
        those utterances."""
        deadline = time.monotonic() + limit_s
        while True:
            heard = self.read()[since:]
            if in_order(phrases, heard):
                return heard
            if time.monotonic() > deadline:
                raise AssertionError("%s: expected %r in order, Orca said %r"
                                     % (what, phrases, heard))
            time.sleep(0.2)


def in_order(phrases, heard):
    position = 0
    for phrase in phrases:
        while position < len(heard) and heard[position] != phrase:
            position += 1
        if position == len(heard):
            return False
        position += 1
    return True


def start_orca(session, folder):
    prefs = os.path.join(folder, "prefs")
    os.makedirs(prefs)
    with open(os.path.join(prefs, "orca-customizations.py"), "w", encoding="utf-8") as hook:
        hook.write(CUSTOMIZATIONS)
    log_path = os.path.join(folder, "orca-debug.txt")
    session.start_child(["orca", "-u", prefs, "--debug-file", log_path],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        if os.path.exists(log_path):
            with open(log_path, encoding="utf-8", errors="replace") as log:
                if "SPEECH: Initialized" in log.read():
                    return Speech(log_path)
        time.sleep(0.2)
    raise AssertionError("Orca did not start")


def key(session, name):
    subprocess.run(["xdotool", "key", "--clearmodifiers", name], env=session.env, check=True,
                   timeout=20)


def press_key(session, speech, name, phrases, what):
    since = len(speech.read())
    key(session, name)
    return speech.wait_for(phrases, since, what)


def tab_through(session, speech, checks):
    for number, phrases in enumerate(TAB_STOPS):
        heard = checks.attempt(press_key, session, speech, "Tab", phrases, "Tab stop %d" % number)
        if heard is None:
            continue
        for frame in FRAMES:
            times = sum(frame in utterance for utterance in heard)
            checks.expect(times <= 1, "Tab stop %d names %r %d times: %r"
                          % (number, frame, times, heard))
        if number == SHORT_REST_STOP:
            # Within the group the arrow keys move the selection; the group is not named again.
            for arrow, option in (("Down", "Middle rest."), ("Up", "Short rest.")):
                heard = checks.attempt(press_key, session, speech, arrow,
                                       [option, "selected radio button"], arrow + " in Rests")
                checks.expect(heard is None or not any("Rests" in u for u in heard),
                              "%s in Rests names the group again: %r" % (arrow, heard))


def play_all(session, speech, checks):
    """From the low E string: Tab, Tab, Tab to "Play All Strings", then Space."""
    for phrases in TAB_STOPS[:3]:
        checks.attempt(press_key, session, speech, "Tab", phrases, "Tab to Play All Strings")
    since = len(speech.read())
    key(session, "space")
    # Six strings once, a second apart, then the end.
    checks.attempt(speech.wait_for,
                   ["notification %s." % PLAYING, "notification %s." % FINISHED], since,
                   "play-all", PLAY_ALL_LIMIT_S)


def click_banner(pyatspi, session):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        if app is None or app.name != "Lyravox":
            continue
        banner = pyatspi.findDescendant(
            app, lambda node: node.getRoleName() == "image" and node.name == "Lyravox")
        if banner is not None:
            box = banner.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            subprocess.run(["xdotool", "mousemove", str(box.x + box.width // 2),
                            str(box.y + box.height // 2), "mousedown", "1"],
                           env=session.env, check=True, timeout=20)
            # Held as a slow hand holds it: Orca takes the press as a cue to look up the active
            # window, and a busy Orca that comes to the press only after the release has opened
            # the about window moves there silently and never names it.
            time.sleep(1.0)
            subprocess.run(["xdotool", "mouseup", "1"], env=session.env, check=True, timeout=20)
            return
    raise AssertionError("the banner is not on the AT-SPI bus")


def main_frame(pyatspi):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        if app is not None and app.name == "Lyravox":
            frame = pyatspi.findDescendant(app, lambda node: node.getRoleName() == "frame")
            if frame is not None:
                return frame
    raise AssertionError("the main window is not on the AT-SPI bus")


def click_main_window_corner(pyatspi, session):
    """A click that only activates the main window: its bottom right corner holds no control."""
    box = main_frame(pyatspi).queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    subprocess.run(["xdotool", "mousemove", str(box.x + box.width - 3),
                    str(box.y + box.height - 3), "click", "1"],
                   env=session.env, check=True, timeout=20)


def about_window(pyatspi, session, speech, checks):
    """A click on the banner opens it; Orca reads its texts, then the button."""
    # The main window is made active first and Orca settles on it: a click that both
    # activates the main window and opens the about window brings two window activations a few
    # milliseconds apart, and a busy Orca then takes the about window for the one it is in
    # already and does not name it.
    since = len(speech.read())
    click_main_window_corner(pyatspi, session)
    # Orca names the main window (in words that vary with what is still open), then the control
    # that had the keys when the help opened.
    checks.attempt(speech.wait_for, ["Play All Strings push button."], since,
                   "the main window is active again")
    since = len(speech.read())
    click_banner(pyatspi, session)
    heard = checks.attempt(speech.wait_for, ["Aha, Yes... push button."], since, "About opens")
    if heard is None:
        return
    opening = [utterance for utterance in heard if utterance.startswith("About... dialog")]
    checks.expect(len(opening) == 1, "Orca should name the about window once: %r" % heard)
    if opening:
        print("On opening the about window Orca says: %r, then %r"
              % (opening[0], "Aha, Yes... push button."))
        position = 0
        for text in ABOUT_TEXTS:
            found = opening[0].find(text, position)
            checks.expect(found >= 0, "Orca did not read %r on opening About" % text)
            position = max(position, found)
        checks.expect(heard.index(opening[0]) < heard.index("Aha, Yes... push button."),
                      "the about texts should come before the button")
    key(session, "space")


def help_window(session, speech, checks):
    since = len(speech.read())
    key(session, "F1")
    heard = checks.attempt(speech.wait_for, ["Help text read only text.", HELP_LINES[0]], since,
                           "F1 opens the help")
    if heard is None:
        return
    opening = [utterance for utterance in heard if utterance.startswith("Help dialog")]
    checks.expect(len(opening) == 1, "Orca should name the help window once: %r" % heard)
    if opening:
        print("On opening the help window Orca says: %r, then %r, %r"
              % (opening[0], "Help text read only text.", HELP_LINES[0]))
        spoken_lines = [line.strip() for line in opening[0][len("Help dialog"):].split("\n")]
        checks.expect(spoken_lines[:3] == HELP_LINES[:3],
                      "on opening the help Orca says the lines %r" % spoken_lines[:3])

    # Line by line with Down, the blank line as "blank".
    for line in HELP_LINES[1:4]:
        checks.attempt(press_key, session, speech, "Down", [line or "blank"], "Down in the help")
    # Flat review (the keypad's 8 and 9: this line, the next) reads what the window shows.
    checks.attempt(press_key, session, speech, "KP_Up", ["blank"], "flat review, this line")
    checks.attempt(press_key, session, speech, "KP_Page_Up", [HELP_LINES[4]],
                   "flat review, next line")
    # Say All (the keypad's plus) reads on from the caret to the end.
    rest = [line for line in HELP_LINES[4:] if line]
    checks.attempt(press_key, session, speech, "KP_Add", rest, "Say All in the help")


def run(program, suppressions):
    folder = tempfile.mkdtemp(prefix="lyravox-orca-")
    session = DesktopSession()
    speech = None
    checks = Checks()
    try:
        for sub in ("home", "runtime", "config", "data", "cache", "state"):
            os.makedirs(os.path.join(folder, sub), mode=0o700)
        session.env.update({
            "HOME": os.path.join(folder, "home"),
            "XDG_RUNTIME_DIR": os.path.join(folder, "runtime"),
            "XDG_CONFIG_HOME": os.path.join(folder, "config"),
            "XDG_DATA_HOME": os.path.join(folder, "data"),
            "XDG_CACHE_HOME": os.path.join(folder, "cache"),
            "XDG_STATE_HOME": os.path.join(folder, "state"),
            "GSETTINGS_BACKEND": "memory",
        })
        session.start()
        import pyatspi  # Only now: it looks for the accessibility bus of this session.

        speech = start_orca(session, folder)
        session.start_program(program, program_env("detect_leaks=0", suppressions))
        # The main window opens with the focus on the low E string.
        speech.wait_for(["Lyravox frame.", "Low E string push button."], 0, "start")

        tab_through(session, speech, checks)
        play_all(session, speech, checks)
        # Help first: with no window manager, nothing gives the main window the keys back once
        # the about window has closed. The help window leaves the banner uncovered.
        help_window(session, speech, checks)
        about_window(pyatspi, session, speech, checks)
    except AssertionError as failure:
        checks.expect(False, str(failure))
    finally:
        session.close()
        if speech is not None:
            with open("orca-speech.txt", "w", encoding="utf-8") as saved:
                saved.write("\n".join(speech.read()) + "\n")
            print("what Orca said: %s" % os.path.abspath("orca-speech.txt"))
        if checks.failures:
            print("Orca's debug log, kept: %s" % os.path.join(folder, "orca-debug.txt"))
        else:
            shutil.rmtree(folder, ignore_errors=True)
    for failure in checks.failures:
        print("FAIL: " + failure)
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(run_from_command_line(run, WHOLE_TEST_LIMIT_S, ("orca", "xdotool")))
