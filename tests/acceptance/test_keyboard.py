"""A person who works the window with the keyboard alone: Enter opens a file's Voice Info, the
sample list leads on to Sample Info, a key is set with its two lists in any order, Enter inside
the dialogs does what the focused control does and never throws the dialog away, and Ctrl+Q
quits after the usual question."""

import re
import time
import unittest

from desktop import DesktopTestCase, wait_for


class Keyboard(DesktopTestCase):
    def setUp(self):
        super().setUp()
        sounds = []
        for name, hz in (("low.wav", "110"), ("mid.wav", "220"), ("high.wav", "440")):
            sounds.append(self.tone(self.path(name), 1, "sine", hz, "vol", "0.3"))
        self.instrument = self.path("piano.cmt")
        self.cardmill("instrument", "-o", self.instrument, "--keys", "59,71,127", *sounds)
        self.project = self.path("keys.cmr")
        self.cardmill("new", self.project, "--name", "Keys")
        self.cardmill("add", self.project, "--group", "k1", self.instrument)

    def voice(self):
        return self.listing(self.project)["groups"][0]["files"][0]

    def no_message(self):
        self.assertEqual(self.desktop.windows("^Cardmill$"), [], "a message box is open")

    def test_a_key_is_set_with_its_two_lists_in_any_order_and_saved(self):
        gui = self.gui(self.project)
        desktop = self.desktop
        voice = self.open_voice_info(gui)
        # The last key group runs up to G8; the person wants it to end at B7. B comes first,
        # while the octave still reads 8: that is no key yet, and nothing is said about it.
        desktop.key("alt+s", "End")
        desktop.key("alt+u")
        desktop.type("B")
        time.sleep(0.5)
        self.no_message()
        desktop.key("Tab", "Up", "Tab")  # octave 7, and on out of the pair: checked now
        time.sleep(0.5)
        self.no_message()
        desktop.screenshot("upper-key-b7", voice)
        # Enter in the name field doesn't throw the dialog away.
        desktop.key("alt+n", "Return")
        time.sleep(0.5)
        self.assertIn(voice, desktop.windows("^Voice Info$"), "Enter closed Voice Info")
        desktop.key("ctrl+Return")
        desktop.wait_gone(voice)
        self.save(gui, "the project saved with the new key",
                  lambda: self.voice()["upperKeys"] == [59, 71, 119], timeout=15)

    def test_sample_info_is_reached_from_voice_info_and_its_loop_marks_read_apart(self):
        gui = self.gui(self.project)
        desktop = self.desktop
        voice = self.open_voice_info(gui)
        frames = self.voice()["samples"][2]["frames"]
        desktop.key("alt+s", "End", "Return")
        sample = desktop.wait_window("^Sample Info$", timeout=10)
        # A loop that starts a little before the end of the sound.
        desktop.key("alt+l", "alt+t", "ctrl+a")
        desktop.type(str(frames - 600))
        desktop.key("Return")  # on to the next control: the dialog stays
        time.sleep(0.5)
        self.assertIn(sample, desktop.windows("^Sample Info$"), "Enter closed Sample Info")
        # The waveform's marks, read from the picture alone (the fields below say "Loop" too).
        shown = desktop.read("loop-near-the-end", sample, top=90, bottom=40, right=120)
        words = re.findall(r"[A-Za-z]+", shown)
        self.assertIn("Loop", words, shown)
        self.assertIn("End", words, shown)
        desktop.key("ctrl+Return")
        desktop.wait_gone(sample)
        self.assertIn(voice, desktop.windows("^Voice Info$"))
        desktop.key("Escape")  # Voice Info itself unchanged; Sample Info's OK stands
        desktop.wait_gone(voice)
        self.save(gui, "the project saved with the loop",
                  lambda: (self.voice()["samples"][2]["looping"],
                           self.voice()["samples"][2]["loopStart"]) == (True, frames - 600), timeout=15)

    def test_the_main_window_takes_sample_info_from_its_menu(self):
        gui = self.gui(self.project)
        desktop = self.desktop
        self.open_voice_info(gui)
        desktop.key("Escape")
        desktop.activate(gui.window)
        desktop.key("ctrl+shift+i")
        sample = desktop.wait_window("^Sample Info$", timeout=10)
        shown = desktop.read("sample-info-from-the-menu", sample, top=45)
        self.assertIn("low.wav", shown)
        desktop.key("Escape")
        desktop.wait_gone(sample)
        desktop.key("Escape")

    def test_ctrl_q_quits_after_asking_about_unsaved_changes(self):
        gui = self.gui(self.project)
        desktop = self.desktop
        desktop.key("alt+p", "c")  # Card Info: a new name makes a change to save
        card = desktop.wait_window("^Card Info$")
        desktop.key("ctrl+a")
        desktop.type("Renamed")
        desktop.key("Return")
        desktop.wait_gone(card)
        desktop.activate(gui.window)
        desktop.key("ctrl+q")
        self.message("asked-about-the-changes", "Save", close=None, timeout=10)
        desktop.key("Return")  # Yes: saved, then gone
        wait_for("cardmill-gui to end", lambda: gui.process.poll() is not None, timeout=20)
        self.assertEqual(self.listing(self.project)["cardName"], "Renamed")


if __name__ == "__main__":
    unittest.main(verbosity=2)
