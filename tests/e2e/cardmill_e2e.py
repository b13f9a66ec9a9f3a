"""Shared helpers of the end-to-end tests: the built cardmill run with a settings folder of the
test's own, the virtual instrument on a pty, and builders of the files the tests feed it."""

import json
import os
import pty
import re
import select
import signal
import subprocess
import tempfile
import time
import unittest

CARDMILL = os.environ.get("CARDMILL", "cardmill")
SNDFILE_WRITER = os.environ.get("SNDFILE_WRITER", "sndfile_writer")
KILL_AT_CALL_LIBRARY = os.environ.get("KILL_AT_CALL_LIBRARY", "")
SECTOR = 128 * 1024


def read(path):
    with open(path, "rb") as f:
        return f.read()


def pack7(data):
    """Bytes as one little-endian bit stream cut into seven-bit bytes, as the SysEx messages
    carry them."""
    bits = int.from_bytes(data, "little")
    return bytes((bits >> (7 * i)) & 0x7F for i in range((8 * len(data) + 6) // 7))


# The synthesizer's messages as its manual describes them, built here independently of the
# program's own SysEx code.
MAKER = b"\x00\x00\x0e"
IDENTITY_REQUEST = b"\xf0\x7e\x7f\x06\x01\xf7"
ACK = b"\xf0" + MAKER + b"\x0e\x14\xf7"


def erase_message(sector):
    return b"\xf0" + MAKER + bytes((0x0E, 0x11, sector, 0xF7))


def block_message(sector, block, data):
    """A 1024-byte block: the data packed into 1171 seven-bit bytes, then a checksum of those,
    the sector and the block, modulo 128."""
    packed = pack7(data)
    assert len(packed) == 1171
    checksum = (sum(packed) + sector + block) & 0x7F
    return b"\xf0" + MAKER + bytes((0x0E, 0x12, sector, block)) + packed + bytes((checksum, 0xF7))


def write_song(path, notes, low=60, kind=0, name=None):
    """A standard MIDI file written by mido: `notes` eighth notes rising from `low`."""
    import mido  # Debian's python3-mido, seen only by /usr/bin/python3
    song = mido.MidiFile(type=kind, ticks_per_beat=96)
    track = mido.MidiTrack([mido.MetaMessage("track_name", name=name)] if name else [])
    song.tracks.append(track)
    for i in range(notes):
        track.append(mido.Message("note_on", note=low + i % 12, velocity=90, time=0 if i == 0 else 48))
        track.append(mido.Message("note_off", note=low + i % 12, velocity=0, time=48))
    song.save(path)


MESSAGES = ((r" received identity request", "identify"), (r" received erase sector (\d+)", "erase {0}"),
            (r" received write block (\d+) of sector (\d+)", "block {1} {0}"), (r" received ", "other"))


def received(log):
    """The messages a sim's log says it received: 'identify', 'erase S', 'block S B' or 'other'."""
    names = []
    for line in read(log).decode().splitlines():
        for pattern, name in MESSAGES:
            if m := re.search(pattern, line):
                names.append(name.format(*m.groups()))
                break
    return names


def card_words(samples):
    """16-bit little-endian samples as the card holds them: big-endian words."""
    return b"".join(samples[i:i + 2][::-1] for i in range(0, len(samples), 2))


def card_holds(card, image):
    """Whether the card file holds the image and nothing else but erased bytes."""
    data = read(card)
    return data[:len(image)] == image and data[len(image):].count(0xFF) == len(data) - len(image)


class CardmillTestCase(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="cardmill-e2e-")
        self.addCleanup(self._tmp.cleanup)
        self.dir = self._tmp.name
        self.config = os.path.join(self.dir, "config")
        os.makedirs(self.config)
        self.env = dict(os.environ, CARDMILL_CONFIG_DIR=self.config)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        """A file of the test's folder (named by str or bytes) holding `data` (str or bytes); its path."""
        path = os.path.join(os.fsencode(self.dir), os.fsencode(name))
        with open(path, "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)
        return os.fsdecode(path)

    def run_cardmill(self, *args, check=None, env=None, text=True, stdin=subprocess.DEVNULL):
        result = subprocess.run([CARDMILL, *args], capture_output=True, text=text, stdin=stdin,
                                env=dict(self.env, **(env or {})), timeout=300)
        if check is not None:
            self.assertEqual(result.returncode, check,
                             f"cardmill {' '.join(args)}\nstdout: {result.stdout}\nstderr: {result.stderr}")
        return result

    def popen(self, *args, stdin=subprocess.DEVNULL, **kwargs):
        run = subprocess.Popen([CARDMILL, *args], env=self.env, stdin=stdin, **kwargs)
        self.addCleanup(run.kill)
        return run

    def on_terminal(self, args, answer, after=b"(Enter:"):
        """Runs cardmill with a terminal of its own and, once it asks, types `answer` (or calls it
        with the run); what the terminal showed and the exit status."""
        terminal, slave = pty.openpty()
        self.addCleanup(os.close, terminal)
        run = self.popen(*args, stdin=slave, stdout=slave, stderr=slave)
        os.close(slave)
        shown, deadline, typed = b"", time.monotonic() + 60, False
        while time.monotonic() < deadline:
            if not typed and after in shown:
                if callable(answer):
                    answer(run)
                else:
                    os.write(terminal, answer.encode())
                typed = True
            if select.select([terminal], [], [], 0.5)[0]:
                try:
                    chunk = os.read(terminal, 4096)
                except OSError:  # the program ended and closed its end
                    break
                if not chunk:
                    break
                shown += chunk
            elif run.poll() is not None:
                break
        return shown.decode(errors="replace").replace("\r\n", "\n"), run.wait(timeout=30)

    def info(self, *paths):
        result = self.run_cardmill("info", "--json", *paths)
        return json.loads(result.stdout), result

    def listing(self, project, *options):
        return json.loads(self.run_cardmill(*options, "--json", "list", project, check=0).stdout)

    def new_project(self, name, *options):
        project = self.path(name)
        self.run_cardmill("new", project, *options, check=0)
        return project

    def image_of(self, name, *added):
        """The card image of a project `name` (of a 16 M card) of what `add` makes of `added`."""
        project = self.new_project(name + ".cmr", "--card-size", "16M")
        self.run_cardmill("add", project, *added, check=0)
        image = self.path(name + ".img")
        self.run_cardmill("image", project, "-o", image, check=0)
        return read(image)

    def tool(self, *args):
        subprocess.run(list(args), check=True, capture_output=True, timeout=300)

    def sox(self, name, *synth, rate=44100, bits=16, channels=1):
        """A sound written by sox: `synth` is what follows sox's synth effect."""
        path = self.path(name)
        self.tool("sox", "-n", "-r", str(rate), "-b", str(bits), "-c", str(channels), path, "synth", *synth)
        return path


class SimProcess:
    """`cardmill sim --pty` keeping its card in a file and logging each message."""

    def __init__(self, test, *options, card="card.bin", log="sim.log"):
        self.card, self.log = test.path(card), test.path(log)
        self.process = subprocess.Popen(
            [CARDMILL, "sim", "--pty", "--card", self.card, "--log", self.log, *options],
            env=test.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        test.addCleanup(self.stop, signal.SIGKILL)
        self.port = self.process.stdout.readline().strip()
        test.assertRegex(self.port, r"^/dev/pts/\d+$", self.process.stderr.read() if not self.port else "")

    def stop(self, how=signal.SIGTERM):
        """Ends the instrument (after SIGTERM it saves its card); its exit status."""
        if self.process.poll() is None:
            self.process.send_signal(how)
            self.process.wait(timeout=30)
        self.process.stdout.close()
        self.process.stderr.close()
        return self.process.returncode


class Instrument:
    """The virtual instrument keeping its card in one file across runs: a `cardmill sim --pty`
    process a run, or the in-process port."""

    def __init__(self, test, in_process):
        self.test, self.in_process = test, in_process
        self.name = "in-process" if in_process else "pty"
        self.card = test.path(f"{self.name}.bin")
        self.runs = 0
        self.sim = None

    def start(self, *options):
        """The port of a new run with a log of its own; the card stays."""
        self.runs += 1
        self.log = self.test.path(f"{self.name}-{self.runs}.log")
        if self.in_process:
            return " ".join(["sim", "--card", self.card, "--log", self.log, *options])
        self.sim = SimProcess(self.test, *options, card=self.card, log=self.log)
        return self.sim.port

    def stop(self):
        """Ends the run (the card is saved); the messages the instrument received."""
        if self.sim:
            self.test.assertEqual(self.sim.stop(), 0)
            self.sim = None
        return received(self.log)
