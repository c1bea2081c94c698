"""A private desktop for one test: a D-Bus session bus, an X server (Xvfb), the AT-SPI bus and the
program, all in one process group of our own so that nothing outlives the test, however it ends."""

import ctypes
import os
import select
import shutil
import signal
import subprocess
import sys
import time

AT_SPI_BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
SKIPPED = 77
_PR_SET_PDEATHSIG = 1
_PR_SET_CHILD_SUBREAPER = 36


class Skip(Exception):
    """A tool the test needs is missing: the test cannot say anything about the program."""


def missing_tools(extra_tools=()):
    missing = [tool for tool in ("dbus-daemon", "dbus-send", "Xvfb") + tuple(extra_tools)
               if shutil.which(tool) is None]
    if not os.access(AT_SPI_BUS_LAUNCHER, os.X_OK):
        missing.append(AT_SPI_BUS_LAUNCHER)
    if not _has_pyatspi():
        missing.append("pyatspi (python3-pyatspi) for " + sys.executable)
    return missing


def _has_pyatspi():
    # In a child Python, so that this one loads it only once the private session's buses exist.
    probe = subprocess.run([sys.executable, "-c", "import pyatspi"], capture_output=True,
                           timeout=30, check=False)
    return probe.returncode == 0


def program_env(asan_options, suppressions):
    """What the program under test runs with: accessible over AT-SPI on the session's X server,
    silent, with the sanitizers' options (and leak suppressions, if given)."""
    env = {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_QPA_PLATFORM": "xcb",
           "SDL_AUDIODRIVER": "dummy", "ASAN_OPTIONS": asan_options}
    if suppressions:
        env["LSAN_OPTIONS"] = "suppressions=" + suppressions
    return env


class Checks:
    """The failures found so far; a test goes on after one, to report all of them at once."""

    def __init__(self):
        self.failures = []

    def expect(self, condition, message):
        if not condition:
            self.failures.append(message)

    def attempt(self, step, *args):
        try:
            return step(*args)
        except AssertionError as failure:
            self.failures.append(str(failure))
            return None


def run_from_command_line(run, whole_test_limit_s, extra_tools=()):
    """Runs `run(PROGRAM, LSAN_SUPPRESSIONS)` from the command line, within the time limit; the
    exit status is 77 (skipped) when a tool the test needs is missing."""
    missing = missing_tools(extra_tools)
    if missing:
        print("SKIP: not installed: %s (tools/setup-deps.sh --test)" % ", ".join(missing))
        return SKIPPED

    def on_alarm(_signum, _frame):
        raise TimeoutError("the test took longer than %d s" % whole_test_limit_s)

    signal.signal(signal.SIGALRM, on_alarm)
    signal.alarm(whole_test_limit_s)
    return run(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else "")


def _read_line(stream, timeout_s):
    """One line from a child's pipe, or None if none comes in time (the child may hang)."""
    line = b""
    deadline = time.monotonic() + timeout_s
    while not line.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([stream], [], [], left)[0]:
            return None
        byte = os.read(stream.fileno(), 1)
        if not byte:
            return None
        line += byte
    return line.decode().strip()


class DesktopSession:
    def __init__(self):
        self.env = dict(os.environ)
        self._group = None
        self._children = []
        self.program = None

    def _start(self, argv, **kwargs):
        group = self._group

        def in_our_group():
            # Dies with the test, even when the test is killed outright.
            ctypes.CDLL(None, use_errno=True).prctl(_PR_SET_PDEATHSIG, signal.SIGKILL)
            os.setpgid(0, 0 if group is None else group)

        child = subprocess.Popen(argv, env=self.env, preexec_fn=in_our_group, **kwargs)
        if self._group is None:
            self._group = child.pid
        self._children.append(child)
        return child

    def start(self):
        # The buses start helpers of their own (the accessibility bus, its registry); made ours when
        # their parents end, they can be waited for rather than left behind as zombies.
        ctypes.CDLL(None, use_errno=True).prctl(_PR_SET_CHILD_SUBREAPER, 1)
        bus = self._start(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                          stdout=subprocess.PIPE)
        address = _read_line(bus.stdout, 15)
        if not address:
            raise RuntimeError("the D-Bus session bus did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

        # Xvfb picks a free display itself and reports it when it is ready.
        read_end, write_end = os.pipe()
        self._start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                     "-nolisten", "tcp", "-ac", "-noreset"], pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end, "rb", buffering=0) as display:
            number = _read_line(display, 15)
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number

        self._start([AT_SPI_BUS_LAUNCHER, "--launch-immediately"])
        self._wait_for_accessibility_bus()
        os.environ.update({name: self.env[name]
                           for name in ("DBUS_SESSION_BUS_ADDRESS", "DISPLAY")})

    def _wait_for_accessibility_bus(self):
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            reply = subprocess.run(
                ["dbus-send", "--session", "--print-reply", "--reply-timeout=2000",
                 "--dest=org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                env=self.env, capture_output=True, timeout=10, check=False)
            if reply.returncode == 0 and b"unix:" in reply.stdout:
                return
            time.sleep(0.2)
        raise RuntimeError("the AT-SPI bus did not start")

    def start_child(self, argv, **kwargs):
        """Starts a helper of the test (a screen reader) in this session, ended with it."""
        return self._start(argv, **kwargs)

    def start_program(self, program, extra_env):
        env_before = self.env
        self.env = dict(env_before, **extra_env)
        try:
            self.program = self._start([program])
        finally:
            self.env = env_before
        return self.program

    def close(self):
        """Ends the program if it still runs, then everything else this session started."""
        if self.program is not None and self.program.poll() is None:
            self.program.kill()
        if self._group is not None:
            for sig, grace_s in ((signal.SIGTERM, 5), (signal.SIGKILL, 5)):
                try:
                    os.killpg(self._group, sig)
                except ProcessLookupError:
                    break
                for child in self._children:
                    try:
                        child.wait(timeout=grace_s)
                    except subprocess.TimeoutExpired:
                        pass
        for child in self._children:
            if child.stdout is not None:
                child.stdout.close()
        _reap_orphans(limit_s=5)


def _reap_orphans(limit_s):
    deadline = time.monotonic() + limit_s
    while time.monotonic() < deadline:
        try:
            pid, _status = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            time.sleep(0.05)
