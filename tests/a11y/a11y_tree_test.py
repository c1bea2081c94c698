"""The running program's accessibility tree, read over AT-SPI as a screen reader reads it.

Usage: a11y_tree_test.py PROGRAM [LSAN_SUPPRESSIONS]. Exits 77 (skipped) when a tool is missing.
Properties are read one at a time: reading them all at once (Properties.GetAll) can crash a
Qt 6.4 program, and screen readers do not do it either."""

import sys
import time

from desktop_session import Checks, DesktopSession, program_env, run_from_command_line
from program_texts import (ABOUT_TEXTS, FINISHED, HELP_LINES, PLAYING,
                           PROGRAM_DESCRIPTION)

# Guards against a hang anywhere, well inside ctest's own time-out.
WHOLE_TEST_LIMIT_S = 150

# name, AT-SPI role, description: every control of the main window. A description a screen
# reader can speak is the control's tooltip unless the program sets one.
CONTROLS = [
    ("Low E string", "push button", "Push to play the low E string"),
    ("A string", "push button", "Push to play the A string"),
    ("D string", "push button", "Push to play the D string"),
    ("G string", "push button", "Push to play the G string"),
    ("B string", "push button", "Push to play the B string"),
    ("High E string", "push button", "Push to play the high E string"),
    ("E Major", "push button", "Push to play the E Major Chord"),
    ("G Major", "push button", "Push to play the G Major Chord"),
    ("Play All Strings", "push button", "Push to play all the strings"),
    ("1 time", "radio button", "Play every string one time"),
    ("3 times", "radio button", "Play every string three times"),
    ("5 times", "radio button", "Play every string five times"),
    ("8 times", "radio button", "Play every string eight times"),
    ("Short rest", "radio button", "Play a short rest between the notes"),
    ("Middle rest", "radio button", "Play a middle rest between the notes"),
    ("Long rest", "radio button", "Play a long rest between the notes"),
    ("Loop", "check box", "Click here to play endless again"),
    ("Play every String", "panel", "Set how often every string gets played"),
    ("General", "panel", "Loop the sounds, and set the rests between the notes"),
    ("Rests", "panel", "Rest between the notes"),
    ("Chords", "panel", "Play a Chord"),
    ("Lyravox", "image",
     "Banner: electric guitars and the program's name. A click opens the About window."),
    ("File", "menu item", "Leave the program"),
    ("Exit", "menu item", "Stop playing and close Lyravox"),
    ("Help", "menu item", "How to use the program, and who made it"),
    ("Help for this Tool", "menu item", "Open the window that explains the program"),
    ("About", "menu item",
     "Open the window with the authors, the terms of use and the addresses"),
]
# Which frame each control sits in, as a screen reader tells the user where they are.
CONTAINERS = {
    "E Major": "Chords", "G Major": "Chords",
    "Play All Strings": "Play every String", "1 time": "Play every String",
    "3 times": "Play every String", "5 times": "Play every String", "8 times": "Play every String",
    "Loop": "General", "Rests": "General",
    "Short rest": "Rests", "Middle rest": "Rests", "Long rest": "Rests",
}
SOUND_BUTTONS = ["Low E string", "A string", "D string", "G string", "B string", "High E string",
                 "E Major", "G Major"]
# Roles of the things a user operates or reads; the window's client area and the menu bar are
# containers a screen reader passes through.
CONTROL_ROLES = ("push button", "radio button", "check box", "image", "menu item", "popup menu",
                 "panel")


class Node:
    def __init__(self, accessible, parent):
        self.accessible = accessible
        self.parent = parent
        self.name = accessible.name
        self.role = accessible.getRoleName()
        self.description = accessible.description

    def path(self):
        names, node = [], self
        while node is not None:
            names.append(node.name or "<%s>" % node.role)
            node = node.parent
        return " / ".join(reversed(names))


def walk(accessible, parent=None):
    node = Node(accessible, parent)
    yield node
    for index in range(accessible.childCount):
        child = accessible.getChildAtIndex(index)
        if child is not None:
            yield from walk(child, node)


def wait_for(what, condition, limit_s=30):
    deadline = time.monotonic() + limit_s
    while time.monotonic() < deadline:
        found = condition()
        if found:
            return found
        time.sleep(0.2)
    raise AssertionError("timed out waiting for " + what)


def find_application(pyatspi, program):
    def application():
        if program.poll() is not None:
            raise AssertionError("the program ended early with status %s" % program.returncode)
        desktop = pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            if app is not None and app.name == "Lyravox":
                return app
        return None

    return wait_for("the program on the AT-SPI bus", application, 60)


def main_window(application):
    def window():
        for index in range(application.childCount):
            child = application.getChildAtIndex(index)
            if child is not None and child.name == "Lyravox" and child.getRoleName() == "frame":
                return child
        return None

    return wait_for("the main window in the accessibility tree", window)


def by_name(nodes):
    named = {}
    for node in nodes:
        named.setdefault(node.name, []).append(node)
    return named


def has_state(node, state):
    return node.accessible.getState().contains(state)


def press(node):
    actions = node.accessible.queryAction()
    for index in range(actions.nActions):
        if actions.getName(index) in ("Press", "press"):
            return actions.doAction(index)
    raise AssertionError("%s has no press action" % node.path())


def check_tree(window, checks):
    nodes = list(walk(window))
    for node in nodes:
        print("%-60s %-14s %s" % (node.path(), node.role, node.description))
    named = by_name(nodes)

    for name, role, description in CONTROLS:
        found = named.get(name, [])
        found = [node for node in found if node.role == role]
        checks.expect(len(found) == 1, "one %s named %r, found %d" % (role, name, len(found)))
        for node in found:
            checks.expect(node.description == description,
                          "%s: description %r, expected %r"
                          % (node.path(), node.description, description))
            frame = CONTAINERS.get(name)
            if frame is not None:
                checks.expect(node.parent is not None and node.parent.name == frame,
                              "%s: should be inside %r" % (node.path(), frame))

    # Also those missing from the table: a nameless control is silent to a screen reader.
    for node in nodes:
        if node.role in CONTROL_ROLES:
            checks.expect(bool(node.name), "%s (%s) has no name" % (node.path(), node.role))
            checks.expect(bool(node.description.strip()),
                          "%s (%s) has no description" % (node.path(), node.role))
    return named


def check_program(application, checks):
    description = application.description
    checks.expect(description == PROGRAM_DESCRIPTION,
                  "the program's description is %r, expected %r"
                  % (description, PROGRAM_DESCRIPTION))


def top_level(application, name, role):
    def window():
        for index in range(application.childCount):
            child = application.getChildAtIndex(index)
            if child is not None and child.name == name and child.getRoleName() == role:
                return child
        return None

    return wait_for("the %s %r" % (role, name), window)


def check_help(pyatspi, application, named, checks):
    """The help window's text, read as a screen reader reads it: line by line at the caret."""
    press(named["Help for this Tool"][0])
    window = top_level(application, "Help", "dialog")
    texts = [node for node in walk(window) if node.role == "text"]
    checks.expect(len(texts) == 1 and texts[0].name == "Help text",
                  "the help window should hold one text named 'Help text', found %s"
                  % [(node.name, node.role) for node in texts])
    if not texts:
        return
    node = texts[0]
    for state, what in ((pyatspi.STATE_READ_ONLY, "read-only"),
                        (pyatspi.STATE_MULTI_LINE, "multi-line"),
                        (pyatspi.STATE_FOCUSABLE, "focusable"),
                        (pyatspi.STATE_SHOWING, "showing")):
        checks.expect(has_state(node, state), "the help text should be %s" % what)
    try:
        wait_for("the help text to have the focus",
                 lambda: has_state(node, pyatspi.STATE_FOCUSED), 10)
    except AssertionError as failure:
        checks.expect(False, str(failure))

    text = node.accessible.queryText()
    whole = "\n".join(HELP_LINES)
    checks.expect(text.characterCount == len(whole),
                  "the help text has %d characters, expected %d"
                  % (text.characterCount, len(whole)))
    checks.expect(text.getText(0, -1) == whole, "the help text differs from the picture's")
    offset, lines = 0, []
    for _ in HELP_LINES:
        line, start, end = text.getTextAtOffset(offset, pyatspi.TEXT_BOUNDARY_LINE_START)
        checks.expect(start == offset, "line at %d starts at %d" % (offset, start))
        lines.append(line.rstrip("\n"))
        offset = end
    checks.expect(lines == HELP_LINES, "the help text line for line: %r" % lines)

    second_line = len(HELP_LINES[0]) + 1
    text.setCaretOffset(second_line)
    checks.expect(text.caretOffset == second_line,
                  "the caret is at %d, expected %d" % (text.caretOffset, second_line))
    checks.expect(text.getNSelections() == 0, "the help text offers no selection")


def check_about(application, named, checks):
    """The about window's texts, which a screen reader reads on opening, before the button."""
    press(named["About"][0])
    window = top_level(application, "About...", "dialog")
    order = [node for node in walk(window) if node.role in ("label", "push button")]
    spoken = [node.name if node.role == "label" else "<%s>" % node.name for node in order]
    checks.expect(spoken == ABOUT_TEXTS + ["<Aha, Yes...>"],
                  "the about window reads %r" % spoken)
    buttons = [node for node in order if node.role == "push button"]
    if buttons:
        press(buttons[0])
    try:
        wait_for("the about window to close",
                 lambda: all(application.getChildAtIndex(index) is None
                             or application.getChildAtIndex(index).name != "About..."
                             for index in range(application.childCount)), 15)
    except AssertionError as failure:
        checks.expect(False, str(failure))


def play_all_status(window):
    statuses = [node for node in walk(window) if node.role == "notification"]
    return statuses[0] if len(statuses) == 1 else None


def check_play_all(pyatspi, window, named, checks):
    def status_says(message):
        def says():
            status = play_all_status(window)
            return (status is not None and status.name == message
                    and has_state(status, pyatspi.STATE_SHOWING))
        return says

    sound_buttons = [named[name][0] for name in SOUND_BUTTONS if name in named]
    alle = named["Play All Strings"][0]
    for button in sound_buttons:
        checks.expect(has_state(button, pyatspi.STATE_ENABLED),
                      "%s should be enabled before play-all" % button.path())
    press(alle)

    def all_disabled():
        return not any(has_state(button, pyatspi.STATE_ENABLED)
                       or has_state(button, pyatspi.STATE_SENSITIVE)
                       for button in sound_buttons)

    try:
        wait_for("the sound buttons to be disabled during play-all", all_disabled, 10)
    except AssertionError as failure:
        checks.expect(False, str(failure))
    try:
        wait_for("the status to say %r" % PLAYING, status_says(PLAYING), 10)
    except AssertionError as failure:
        checks.expect(False, str(failure))
    for state in (pyatspi.STATE_ENABLED, pyatspi.STATE_SENSITIVE):
        checks.expect(has_state(alle, state),
                      "Play All Strings should stay enabled during play-all")

    # Six strings once with one-second rests; the limit only stops a hang.
    def all_enabled():
        return all(has_state(button, pyatspi.STATE_ENABLED)
                   and has_state(button, pyatspi.STATE_SENSITIVE)
                   for button in sound_buttons)

    try:
        wait_for("the sound buttons to be enabled again after play-all", all_enabled, 60)
        wait_for("the status to say %r" % FINISHED, status_says(FINISHED), 10)
    except AssertionError as failure:
        checks.expect(False, str(failure))


def run(program, suppressions):
    session = DesktopSession()
    try:
        session.start()
        import pyatspi  # Only now: it looks for the accessibility bus of this session.

        program_process = session.start_program(
            program, program_env("detect_leaks=1:abort_on_error=1", suppressions))
        application = find_application(pyatspi, program_process)
        window = main_window(application)

        checks = Checks()
        named = check_tree(window, checks)
        check_program(application, checks)
        if "About" in named:
            check_about(application, named, checks)
        if "Help for this Tool" in named:
            check_help(pyatspi, application, named, checks)
        if "Play All Strings" in named:
            check_play_all(pyatspi, window, named, checks)

        # Ends the program as a user of a screen reader would: File, Exit.
        press(named["Exit"][0])
        try:
            status = program_process.wait(timeout=20)
            checks.expect(status == 0, "the program ended with status %d" % status)
        except Exception:  # noqa: BLE001 - the time-out is the failure reported
            checks.expect(False, "the program did not end after File, Exit")

        for failure in checks.failures:
            print("FAIL: " + failure)
        return 1 if checks.failures else 0
    finally:
        session.close()


if __name__ == "__main__":
    sys.exit(run_from_command_line(run, WHOLE_TEST_LIMIT_S))
