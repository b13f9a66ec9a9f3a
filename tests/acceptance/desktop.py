"""A desktop of the test's own, used as a person uses one: an X server (Xvfb) with a window
manager (openbox), a PulseAudio server whose only output is a null sink that can be recorded
back, and the built cardmill-gui on it, driven by keys and typing (xdotool) and judged by what
is on the screen (screenshots, read with tesseract), what is heard (the sink's recording) and
what the programs leave in files. Each step leaves its screenshot in the test's output folder."""

import array
import json
import math
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
import wave

CARDMILL = os.environ.get("CARDMILL", "cardmill")
CARDMILL_GUI = os.environ.get("CARDMILL_GUI", "cardmill-gui")
OUTPUT = os.environ.get("ACCEPTANCE_OUTPUT", os.path.join(tempfile.gettempdir(), "acceptance"))
SINK = "cardmill_test"


def wait_for(what, condition, timeout=20.0, every=0.1):
    """The condition's first true value, polled until `timeout` seconds; AssertionError after."""
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(every)


class Desktop:
    """Xvfb + openbox + PulseAudio with a null sink, all private to one test."""

    def __init__(self, name):
        self.out = os.path.join(OUTPUT, name)
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(self.out)
        self.tmp = tempfile.mkdtemp(prefix="cardmill-desktop-")
        self.shots = 0
        self.processes = []
        try:
            self._start()
        except BaseException:
            self.close()
            raise

    def _start(self):
        display = self._start_x()
        run = os.path.join(self.tmp, "run")
        home = os.path.join(self.tmp, "home")
        os.makedirs(run, mode=0o700)
        os.makedirs(home)
        self.env = dict(os.environ, DISPLAY=display, XDG_RUNTIME_DIR=run, HOME=home,
                        XDG_CONFIG_HOME=os.path.join(home, ".config"), QT_QPA_PLATFORM="xcb",
                        PULSE_SERVER="unix:" + os.path.join(run, "pulse-native"))
        for variable in ("QT_QPA_PLATFORMTHEME", "WAYLAND_DISPLAY", "SESSION_MANAGER"):
            self.env.pop(variable, None)
        self._spawn(["openbox", "--sm-disable"], "openbox.log")
        wait_for("the window manager", lambda: "window id" in self._output(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]))
        socket = os.path.join(run, "pulse-native")
        self._spawn(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                     "--disallow-exit", "--use-pid-file=no", "--log-target=stderr",
                     f"--load=module-native-protocol-unix auth-anonymous=1 socket={socket}",
                     f"--load=module-null-sink sink_name={SINK} rate=44100 channels=2"],
                    "pulseaudio.log")
        wait_for("the sound server", lambda: subprocess.run(
            ["pactl", "info"], env=self.env, capture_output=True).returncode == 0)
        subprocess.run(["pactl", "set-default-sink", SINK], env=self.env, check=True)

    def _start_x(self):
        """Xvfb on the first display number free; the test is skipped when it can't start."""
        if not shutil.which("Xvfb"):
            raise unittest.SkipTest("Xvfb is not installed (scripts/install-deps installs it)")
        log_path = os.path.join(self.out, "xvfb.log")
        for number in range(90, 190):
            if os.path.exists(f"/tmp/.X{number}-lock"):
                continue
            with open(log_path, "w") as log:
                xvfb = subprocess.Popen(
                    ["Xvfb", f":{number}", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                     "-noreset"], stdout=log, stderr=log, stdin=subprocess.DEVNULL)
            socket = f"/tmp/.X11-unix/X{number}"
            end = time.monotonic() + 15
            while xvfb.poll() is None and not os.path.exists(socket) and time.monotonic() < end:
                time.sleep(0.05)
            if xvfb.poll() is None and os.path.exists(socket):
                self.processes.append(xvfb)
                return f":{number}"
            if xvfb.poll() is None:
                xvfb.kill()
            xvfb.wait()
            with open(log_path) as why:
                reason = why.read()
            if "already active" not in reason and "Server is already" not in reason:
                raise unittest.SkipTest("Xvfb can't start here: " + reason.strip()[-300:])
        raise unittest.SkipTest("Xvfb can't start here: no display number is free")

    def _spawn(self, command, log_name):
        with open(os.path.join(self.out, log_name), "w") as log:
            process = subprocess.Popen(command, env=self.env, stdout=log, stderr=log,
                                       stdin=subprocess.DEVNULL)
        self.processes.append(process)
        return process

    def _output(self, command):
        result = subprocess.run(command, env=self.env, capture_output=True, text=True)
        return result.stdout

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(self.tmp, ignore_errors=True)

    # What a person does.

    def windows(self, title):
        """Visible windows whose title matches the regular expression."""
        found = self._output(["xdotool", "search", "--onlyvisible", "--name", title])
        return [int(w) for w in found.split()]

    def wait_window(self, title, timeout=20.0):
        window = wait_for(f"a window titled '{title}'", lambda: self.windows(title), timeout)[-1]
        self.activate(window)
        return window

    def wait_gone(self, window, timeout=20.0):
        wait_for(f"window {window} to close", lambda: window not in self.windows("."), timeout)

    def activate(self, window):
        try:
            subprocess.run(["xdotool", "windowactivate", "--sync", str(window)], env=self.env,
                           capture_output=True, timeout=5)
        except subprocess.TimeoutExpired:
            pass  # a modal dialog of its own keeps the focus; the keys then go there
        time.sleep(0.2)

    def click(self, window, x, y):
        """A click of the left button at a point of the window."""
        subprocess.run(["xdotool", "mousemove", "--window", str(window), str(x), str(y), "click",
                        "1"], env=self.env, capture_output=True)
        time.sleep(0.2)

    def key(self, *keys):
        subprocess.run(["xdotool", "key", "--delay", "60", *keys], env=self.env, check=True)
        time.sleep(0.2)

    def type(self, text):
        subprocess.run(["xdotool", "type", "--delay", "15", text], env=self.env, check=True)
        time.sleep(0.2)

    # What a person sees.

    def screenshot(self, step, window=None):
        """The screen (or one window) as a PNG in the output folder, numbered by step."""
        self.shots += 1
        path = os.path.join(self.out, f"{self.shots:02d}-{step}.png")
        subprocess.run(["import", "-window", str(window) if window else "root", path],
                       env=self.env, check=True, capture_output=True)
        return path

    def read(self, step, window=None, bottom=None, right=None, top=None):
        """The text of the screen or a window (only its `top`, `bottom` or `right` pixels when
        given; `top` and `bottom` together: the `bottom` pixels of the `top` ones), as tesseract
        reads it from the screenshot. A part of a busy window reads better alone."""
        shot = self.screenshot(step, window)
        scaled = shot[:-4] + "-ocr.png"
        crop = ["-gravity", "North", "-crop", f"0x{top}+0+0", "+repage"] if top else []
        if bottom:
            crop += ["-gravity", "South", "-crop", f"0x{bottom}+0+0", "+repage"]
        if right:
            crop += ["-gravity", "East", "-crop", f"{right}x0+0+0", "+repage"]
        subprocess.run(["convert", shot, *crop, "-scale", "300%", scaled], check=True)
        text = subprocess.run(["tesseract", scaled, "-", "--psm", "6"], capture_output=True,
                              text=True).stdout
        os.remove(scaled)
        return " ".join(text.split())

    # What a person hears.

    def record(self, step):
        return Recording(self, os.path.join(self.out, f"{self.shots + 1:02d}-{step}.wav"))

    def playing_streams(self):
        return [line for line in self._output(["pactl", "list", "short", "sink-inputs"])
                .splitlines() if line.strip()]


class Recording:
    """What the null sink plays, recorded from its monitor until stop()."""

    def __init__(self, desktop, path):
        self.path = path
        self.process = subprocess.Popen(
            ["parecord", f"--device={SINK}.monitor", "--file-format=wav", "--rate=44100",
             "--latency-msec=20",
             "--channels=1", "--format=s16le", path], env=desktop.env,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)

    def stop(self):
        self.process.send_signal(signal.SIGINT)
        self.process.wait(timeout=10)
        with wave.open(self.path) as recorded:
            samples = array.array("h", recorded.readframes(recorded.getnframes()))
            return samples, recorded.getframerate()


def envelope(samples, rate, window_s=0.05):
    """RMS in windows of `window_s` seconds, from the first sample above -40 dBFS of the loudest
    (so that two recordings of one sound are cut alike, wherever it began) to the last window
    above that level: the part of the recording that was heard."""
    peak = max((abs(s) for s in samples), default=0)
    if peak == 0:
        return []
    first = next(i for i, s in enumerate(samples) if abs(s) > peak / 100)
    size = max(1, int(rate * window_s))
    levels = []
    for start in range(first, len(samples) - size + 1, size):
        chunk = samples[start:start + size]
        levels.append(math.sqrt(sum(s * s for s in chunk) / size))
    loudest = max(levels, default=0)
    heard = [i for i, level in enumerate(levels) if level > loudest / 100]
    return levels[:heard[-1] + 1] if heard else []


def correlation(a, b):
    n = min(len(a), len(b))
    a, b = a[:n], b[:n]
    mean_a, mean_b = sum(a) / n, sum(b) / n
    cov = sum((x - mean_a) * (y - mean_b) for x, y in zip(a, b))
    var_a = sum((x - mean_a) ** 2 for x in a)
    var_b = sum((y - mean_b) ** 2 for y in b)
    return cov / math.sqrt(var_a * var_b) if var_a and var_b else 0.0


class Gui:
    """cardmill-gui on the desktop, with a settings folder of its own."""

    def __init__(self, desktop, config, project=None):
        self.desktop = desktop
        command = [CARDMILL_GUI, "--no-splash", "--config-dir", config]
        if project:
            command.append(project)
        self.process = desktop._spawn(command, "cardmill-gui.log")
        # The window is "Cardmill - untitled" until the project has loaded; keys pressed before
        # then go to the loader's progress dialog. A project whose files were found elsewhere is
        # changed as it opens: its title then ends in the mark of unsaved changes.
        title = "^Cardmill - " + (".*" + re.escape(os.path.basename(project)) + r"\*?$"
                                  if project else "")
        self.window = desktop.wait_window(title, timeout=30)
        # A person clicks into a window (here, the toolbar past its buttons) before typing: a
        # window the window manager has just focused may take no keys until then.
        desktop.click(self.window, 690, 45)

    def free_bytes(self, step):
        """The free bytes the status bar shows."""
        status = self.desktop.read(step, self.window, bottom=40)
        match = re.search(r"remaining[:;.]?\s*(\d+)", status)
        return int(match.group(1)) if match else None


class DesktopTestCase(unittest.TestCase):
    """A fresh desktop and folder for each test; the GUI and the desktop go at the end."""

    def setUp(self):
        self.desktop = Desktop(f"{type(self).__name__}.{self._testMethodName}")
        self.addCleanup(self.desktop.close)
        self._tmp = tempfile.TemporaryDirectory(prefix="cardmill-acceptance-")
        self.addCleanup(self._tmp.cleanup)
        self.dir = self._tmp.name
        self.config = self.path("config")
        os.makedirs(self.config)

    def path(self, name):
        return os.path.join(self.dir, name)

    def cardmill(self, *args, check=0):
        result = subprocess.run([CARDMILL, "--config-dir", self.config, *args],
                                capture_output=True, text=True, timeout=300,
                                stdin=subprocess.DEVNULL)
        if check is not None:
            self.assertEqual(result.returncode, check, f"cardmill {' '.join(args)}\n"
                             f"{result.stdout}\n{result.stderr}")
        return result

    def sox(self, *args):
        subprocess.run(["sox", *args], check=True, capture_output=True, timeout=60)

    def tone(self, path, seconds, *synth, rate=22050):
        """A mono 16-bit sound by sox at `path`: `synth` is what follows the length in its synth
        effect."""
        self.sox("-n", "-r", str(rate), "-b", "16", "-c", "1", path, "synth", str(seconds), *synth)
        return path

    def listing(self, project):
        """The project as `cardmill list --json` reads it from its file."""
        return json.loads(self.cardmill("list", "--json", project).stdout)

    def sim(self, card, *options):
        """`cardmill sim --pty` keeping a card of 1 Meg in `card`, ended with the test; the process
        and its pty."""
        sim = subprocess.Popen([CARDMILL, "sim", "--pty", "--card", card, "--card-size", "1M", *options],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(sim.wait, 30)
        self.addCleanup(sim.send_signal, signal.SIGTERM)
        pty = sim.stdout.readline().strip()
        self.assertTrue(pty.startswith("/dev/pts/"), pty)
        return sim, pty

    def gui(self, project=None):
        return Gui(self.desktop, self.config, project)

    def menu(self, gui, menu, letter, title):
        """A menu item by its underlined letters; the dialog it opens."""
        for _ in range(3):
            self.desktop.activate(gui.window)
            self.desktop.key(menu)
            time.sleep(0.5)
            self.desktop.key(letter)
            try:
                return self.desktop.wait_window(title, timeout=10)
            except AssertionError:
                self.desktop.key("Escape")
        raise AssertionError(f"{menu} {letter} opened no '{title}'")

    def type_name(self, dialog, path):
        self.desktop.activate(dialog)
        self.desktop.key("ctrl+a")
        self.desktop.type(path)
        self.desktop.key("Return")

    def message(self, step, *words, close="Return", timeout=30.0):
        """The message box that comes, read off the screen: `words` must be in it. The key (or
        keys) `close` closes it (None leaves it open); the box and what it said."""
        box = self.desktop.wait_window("^Cardmill$", timeout=timeout)
        shown = self.desktop.read(step, box)
        for word in words:
            self.assertIn(word, shown)
        if close:
            self.desktop.key(*([close] if isinstance(close, str) else close))
            self.desktop.wait_gone(box)
        return box, shown

    def save(self, gui, what, condition, timeout=20.0):
        """Ctrl+S in the window; the first true value of `condition` (of the saved file)."""
        self.desktop.activate(gui.window)
        self.desktop.key("ctrl+s")
        return wait_for(what, condition, timeout)

    def add_file(self, gui, path):
        """Add Files with `path` typed, then Done; back in the window."""
        self.desktop.activate(gui.window)
        self.desktop.key("ctrl+d")
        dialog = self.desktop.wait_window("^Add files to project$")
        self.desktop.type(path)
        self.desktop.key("Return", "alt+d")
        self.desktop.wait_gone(dialog)
        self.desktop.activate(gui.window)

    def open_voice_info(self, gui):
        """The first file chosen in the list (where the window puts the focus) and opened with
        Enter. A machine this busy can lose keys while the window takes the focus: they are
        pressed again (Enter in Voice Info, should the first have arrived late, changes nothing)."""
        for _ in range(3):
            self.desktop.activate(gui.window)
            self.desktop.key("Down", "Home", "Return")
            try:
                return self.desktop.wait_window("^Voice Info$", timeout=8)
            except AssertionError:
                self.desktop.screenshot("no-voice-info")
        raise AssertionError("Enter on the file opened no Voice Info")
