"""The texts that the help and about windows draw into their pictures, as a screen reader must be
able to read them: the help text line for line (its by-line, then the body with its blank lines),
the about window's passages in reading order."""

import os


def _help_body_lines():
    # Shared with the help picture's own test (tests/ui/ui_art_test.cpp), blank lines included.
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ui", "help-text.txt")
    with open(path, encoding="utf-8") as text:
        return text.read().removesuffix("\n").split("\n")


HELP_LINES = ["\u00a9 The Lyravox authors - see About-window for details..."] + _help_body_lines()

ABOUT_TEXTS = [
    "Lyravox, by The Lyravox authors",
    "Lyravox is free software: anyone may use, copy, change and pass it on, alone or with other "
    "work, for free or for a fee, as long as this notice goes with every copy. The sounds are "
    "part of the program and may be shared on the same terms. It comes as it is, with no "
    "warranty of any kind. The authors are not liable for any damage or loss arising from its "
    "use.",
    "Web address: www.example.com/lyravox",
    "E-mail address: lyravox@example.com",
]

PROGRAM_DESCRIPTION = "Reference sounds for tuning a guitar by ear"
PLAYING = "Playing all strings"
FINISHED = "Finished playing all strings"
