"""The texts that the help and about windows draw into their pictures, as a screen reader must be
able to read them: the help text line for line (its by-line, then the body with its blank lines),
the about window's passages in reading order."""

HELP_LINES = [
    "\u00a9 The Lyravox authors - see About-window for details...",
    "Lyravox is a program for guitarists, who prefer",
    "to tune their guitar by ear (e.g. with a tune pipe).",
    "",
    "I created the sounds with a high quality synthesizer",
    "-so the frequency of the notes is damn right.",
    "The six buttons on the bottom represent",
    "the six strings of the guitar.",
    "By clicking the buttons you can play the sounds.",
    "You can enable and disable the \"Loop\" checkbox,",
    "which makes the sound play endlessly.",
    "You can also play the E-Major and G-Major chord",
    "by clicking the buttons. (note that you cant loop them)",
    "With the Rest-option-buttons you have three alternatives",
    "for the rests between the notes.",
    "You can play all strings in a row :",
    "Click the \"Play all Strings button\", by selecting",
    "in the option buttons you can set how often every",
    "string is played.",
    "You can also loop the whole thing but while playing,",
    "the rest of the buttons are disabled.",
    "You can exit Lyravox by clicking File-Exit.",
    "",
    "Trust your ear and Enjoy !",
]

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
