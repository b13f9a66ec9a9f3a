"""Hearing a voice before it is sent: Voice Info's keyboard plays the instrument as the card will,
each key its key group's sample at the key's pitch, heard through the sound server's null sink,
soon after the key goes down."""

import array
import math
import subprocess
import threading
import time
import unittest

from desktop import CARDMILL, SINK, DesktopTestCase, wait_for

RATE = 48000


class TimedRecording:
    """The sink's monitor read as it comes, each piece stamped with the time it arrived, so that
    a sound in it can be put on the same clock as a key press."""

    def __init__(self, desktop):
        self.samples = array.array("h")
        self.stamps = []  # (samples so far, monotonic time of arrival)
        self.process = subprocess.Popen(
            ["parec", f"--device={SINK}.monitor", f"--rate={RATE}", "--channels=1",
             "--format=s16le", "--latency-msec=2"], env=desktop.env, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()
        wait_for("the recording to start", lambda: self.stamps, timeout=10, every=0.01)

    def _read(self):
        while True:
            piece = self.process.stdout.read1(480)
            if not piece:
                return
            self.samples.frombytes(piece[:len(piece) // 2 * 2])
            self.stamps.append((len(self.samples), time.monotonic()))

    def time_of(self, index):
        """When sample `index` was played: the arrival of its piece, less what followed it."""
        for count, arrived in self.stamps:
            if count > index:
                return arrived - (count - index) / RATE
        raise AssertionError("no such sample")

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.thread.join(timeout=10)
        self.process.stdout.close()
        return self.samples


def frequency(samples):
    crossings = [i - 1 + samples[i - 1] / (samples[i - 1] - samples[i])
                 for i in range(1, len(samples)) if samples[i - 1] < 0 <= samples[i]]
    return (len(crossings) - 1) * RATE / (crossings[-1] - crossings[0])


class VoiceKeyboard(DesktopTestCase):
    def test_three_keys_pressed_in_turn_are_heard_at_their_pitches_at_once(self):
        # An instrument of three key groups (C-2..G2, G#2..F#3, G3..G8), each a sine of its own at
        # 44.1 kHz with its root at C3.
        sounds = []
        for name, hz in (("low", 220), ("mid", 440), ("high", 880)):
            sounds.append(self.tone(self.path(name + ".wav"), 2, "sine", str(hz), "vol", "0.5", rate=44100))
        instrument = self.path("three.cmt")
        self.cardmill("instrument", "-o", instrument, "--keys", "55,66,127", *sounds)
        project = self.path("keys.cmr")
        self.cardmill("new", project)
        self.cardmill("add", project, "--group", "k1", instrument)

        gui = self.gui(project)
        desktop = self.desktop
        voice = self.open_voice_info(gui)
        desktop.activate(voice)
        desktop.key("alt+k")  # the keys take the focus
        time.sleep(1.0)
        desktop.screenshot("voice-info")

        recording = TimedRecording(desktop)
        # Z plays C2 (48), Q plays C3 (60), U plays B3 (71): one key of each group.
        presses = []
        for letter, key in (("z", 48), ("q", 60), ("u", 71)):
            pressed = time.monotonic()
            subprocess.run(["xdotool", "keydown", letter], env=desktop.env, check=True)
            presses.append((pressed, key))
            time.sleep(0.6)
            if letter == "u":
                desktop.screenshot("a-key-held")
            subprocess.run(["xdotool", "keyup", letter], env=desktop.env, check=True)
            time.sleep(0.4)
        samples = recording.stop()
        with open(desktop.out + "/heard.raw", "wb") as f:
            f.write(samples.tobytes())

        # Each note: where the sound starts after its key, its pitch while held.
        expected = {48: 220 / 2, 60: 440, 71: 880 * 2 ** (11 / 12)}
        start = 0
        latencies = []
        for pressed, key in presses:
            onset = next((i for i in range(start, len(samples))
                          if abs(samples[i]) > 2000 and recording.time_of(i) > pressed), None)
            self.assertIsNotNone(onset, f"key {key} was not heard")
            latencies.append(recording.time_of(onset) - pressed)
            held = samples[onset + 2400:onset + 2400 + RATE // 3]
            cents = 1200 * math.log2(frequency(held) / expected[key])
            self.assertLess(abs(cents), 3, f"key {key} sounded {cents:+.1f} cents off")
            start = onset + RATE // 2
        print(f"latency from key to sound: {', '.join(f'{1000 * t:.1f} ms' for t in latencies)}")
        self.assertLess(max(latencies), 0.030, f"latencies {latencies}")


    def test_cardmill_play_is_heard_at_its_pitch_and_ctrl_c_silences_it(self):
        sound = self.tone(self.path("a.wav"), 8, "sine", "441", "vol", "0.5")
        project = self.path("one.cmr")
        self.cardmill("new", project)
        self.cardmill("add", project, sound)
        recording = TimedRecording(self.desktop)
        play = subprocess.Popen([CARDMILL, "--config-dir", self.config, "play", project,
                                 "k1", "1", "--keys", "G3", "--hold", "8000"],
                                env=self.desktop.env, stderr=subprocess.PIPE, text=True)
        wait_for("the sound", lambda: any(abs(s) > 2000 for s in recording.samples[-4800:]),
                 timeout=10, every=0.05)
        time.sleep(1.0)
        play.send_signal(2)  # Ctrl-C
        stopped = time.monotonic()
        _, said = play.communicate(timeout=10)
        time.sleep(0.5)
        samples = recording.stop()
        self.assertEqual(play.returncode, 130, said)
        self.assertIn("Playing 'a.wav' (k1, voice 1), keys G3", said)
        loud = [i for i, s in enumerate(samples) if abs(s) > 2000]
        # A fifth above the root, and silent soon after Ctrl-C.
        held = samples[loud[0] + 4800:loud[0] + 4800 + RATE // 2]
        self.assertLess(abs(1200 * math.log2(frequency(held) / (441 * 1.5))), 3)
        self.assertLess(recording.time_of(loud[-1]) - stopped, 0.3)


if __name__ == "__main__":
    unittest.main(verbosity=2)
