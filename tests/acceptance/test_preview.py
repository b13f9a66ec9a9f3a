"""Hearing a sound before it goes to the card: Play in the window, through a real sound server,
recorded from the null sink it plays into."""

import array
import unittest
import wave

from desktop import DesktopTestCase, correlation, envelope, wait_for

WINDOW_S = 0.05


class Preview(DesktopTestCase):
    def test_playing_a_sound_is_heard_whole_and_ends_by_itself(self):
        # One second at 22,050 Hz, mono, with a shape of its own: a quick rise, a hold and a
        # long fall, so a recording of silence, of a part or of another sound can't pass.
        sound = self.tone(self.path("tone.wav"), 1.0, "sine", "440", "fade", "t", "0.05", "1.0", "0.6", "gain", "-3")
        project = self.path("preview.cmr")
        self.cardmill("new", project)
        self.cardmill("add", project, "--group", "k1", sound)
        with wave.open(sound) as source:
            rate = source.getframerate()
            expected = envelope(array.array("h", source.readframes(source.getnframes())), rate,
                                WINDOW_S)

        gui = self.gui(project)
        desktop = self.desktop
        # The window shows before the project has loaded: a key pressed then selects nothing.
        # Its only row is selected, white on blue, which reads badly: the free bytes tell instead.
        wait_for("the sound in the file list",
                 lambda: (gui.free_bytes("loaded") or 1 << 30) < 256 * 1024)
        desktop.key("Down")  # the file list has the focus: its first sound is selected
        desktop.screenshot("the-sound-is-selected")
        recording = desktop.record("what-is-heard")
        desktop.key("space")
        # On a busy machine the stream may open late; the recording judges what was heard.
        wait_for("the sound to start", desktop.playing_streams, timeout=20)
        desktop.screenshot("playing")
        # The stream closes by itself once the sound has been heard.
        wait_for("the stream to close", lambda: not desktop.playing_streams(), timeout=10)
        samples, recorded_rate = recording.stop()
        desktop.screenshot("played", gui.window)

        heard = envelope(samples, recorded_rate, WINDOW_S)
        self.assertTrue(heard, "the recording holds only silence")
        self.assertAlmostEqual(len(heard) * WINDOW_S, len(expected) * WINDOW_S, delta=0.1,
                               msg="the sound was not heard for as long as it lasts")
        self.assertGreater(correlation(heard, expected), 0.95,
                           "what was heard does not have the sound's shape")


if __name__ == "__main__":
    unittest.main(verbosity=2)
