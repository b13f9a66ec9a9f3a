"""A card image opened in the window as a musician who has only the image does it: File > Open
Card Image..., the image typed, the folder proposed taken with Enter; the project that opens
lists the card's sounds, plays them, and gives the same card again. Unpacking over it again asks
first."""

import os
import signal
import time
import unittest

from desktop import DesktopTestCase, wait_for


def pitch(samples, rate):
    """The frequency of a recorded tone, from its zero crossings where it is loud."""
    peak = max((abs(s) for s in samples), default=0)
    loud = [i for i, s in enumerate(samples) if abs(s) > peak / 4]
    if not loud:
        return 0
    heard = samples[loud[0]:loud[-1]]
    crossings = sum(1 for a, b in zip(heard, heard[1:]) if (a < 0) != (b < 0))
    return crossings / 2 / (len(heard) / rate)


class OpeningACardImage(DesktopTestCase):
    def setUp(self):
        super().setUp()
        project = self.path("live.cmr")
        self.cardmill("new", project, "--name", "Live", "--card-size", "1M")
        for name, frequency in (("kick.wav", 60), ("bell.wav", 880)):
            self.cardmill("add", project, self.tone(self.path(name), 0.3, "sine", str(frequency)))
        self.image = self.path("stage.img")
        self.cardmill("image", project, "-o", self.image)
        # Only the image is left, as with a card someone shared.
        for name in ("live.cmr", "kick.wav", "bell.wav"):
            os.remove(self.path(name))

    def choose_file(self, gui, path):
        chooser = self.menu(gui, "alt+f", "i", "^Open Card Image$")
        self.type_name(chooser, path)
        return chooser

    def open_card_image(self, gui, path):
        """The file typed, then the folder proposed taken with Enter."""
        self.desktop.wait_gone(self.choose_file(gui, path))
        folder = self.desktop.wait_window("^Unpack Into Folder$")
        self.desktop.screenshot("the-folder-proposed", folder)
        self.desktop.key("Return")
        return folder

    def assert_gives_the_card(self, project):
        again = self.path("again.img")
        self.cardmill("image", project, "-o", again)
        with open(self.image, "rb") as a, open(again, "rb") as b:
            self.assertTrue(a.read() == b.read(), f"{project} gives another card")

    def test_an_image_opens_as_a_project_that_gives_the_same_card(self):
        gui = self.gui()
        self.desktop.wait_gone(self.open_card_image(gui, self.image))
        unpacked = self.path("stage")
        project = os.path.join(unpacked, "Live.cmr")
        self.desktop.wait_window(r"^Cardmill - .*/stage/Live\.cmr$", timeout=60)
        shown = self.desktop.read("the-card-as-a-project", gui.window, top=130, right=590)
        self.assertIn("kick", shown)
        self.assertIn("bell", shown)
        self.assertEqual([f["file"] for f in self.listing(project)["groups"][0]["files"]],
                         ["kick.wav", "bell.wav"])
        self.assert_gives_the_card(project)

        # The first sound plays as it sounded before: a 60 Hz tone, heard through the speakers.
        self.desktop.click(gui.window, 165, 91)
        recording = self.desktop.record("the-kick-is-heard")
        self.desktop.key("space")
        wait_for("the sound to start", self.desktop.playing_streams, timeout=20)
        wait_for("the stream to close", lambda: not self.desktop.playing_streams(), timeout=10)
        samples, rate = recording.stop()
        self.assertAlmostEqual(pitch(samples, rate), 60, delta=6)

        # The same image again into the same folder: asked first, and Cancel keeps it all.
        before = sorted(os.listdir(unpacked))
        self.open_card_image(gui, self.image)
        self.message("the-files-in-the-way-are-asked-about", "already holds", "Replace", close="Escape")
        self.desktop.wait_window(r"^Cardmill - .*/stage/Live\.cmr$", timeout=30)
        self.assertEqual(sorted(os.listdir(unpacked)), before)
        self.assertEqual([e for e in os.listdir(self.dir) if e.startswith(".stage")], [])

    def test_a_captured_transfer_opens_and_one_with_a_block_missing_is_asked_about(self):
        # A MIDI monitor's log of the image sent to the virtual instrument.
        capture = self.path("capture.syx")
        sim, port = self.sim(self.path("card.bin"), "--record", capture)
        self.cardmill("send-image", "--yes", self.image, "--port", port)
        sim.send_signal(signal.SIGTERM)
        sim.wait(timeout=30)
        with open(capture, "rb") as f:
            messages = [m + b"\xf7" for m in f.read().split(b"\xf7") if m]
        blocks = [i for i, m in enumerate(messages) if len(m) > 1000]
        holes = self.path("holes.syx")
        with open(holes, "wb") as f:
            f.write(b"".join(m for i, m in enumerate(messages) if i != blocks[1]))

        gui = self.gui()
        self.choose_file(gui, holes)
        self.message("a-missing-block-is-asked-about", "lacks", "block", "anyway", close="Escape")
        time.sleep(1)
        self.assertEqual(self.desktop.windows("^Unpack Into Folder$"), [])

        self.desktop.wait_gone(self.open_card_image(gui, capture))
        self.desktop.wait_window(r"^Cardmill - .*/capture/Live\.cmr$", timeout=60)
        self.assert_gives_the_card(os.path.join(self.path("capture"), "Live.cmr"))

    def test_a_file_that_is_no_card_is_refused_with_its_reason(self):
        notes = self.path("notes.img")
        with open(notes, "wb") as f:
            f.write(b"A" * 3000)
        gui = self.gui()
        self.choose_file(gui, notes)
        self.message("no-card-is-refused", "notes.img", "unpacked")
        time.sleep(1)
        self.assertEqual(self.desktop.windows("^Unpack Into Folder$"), [])
        self.assertFalse(os.path.exists(self.path("notes")))


if __name__ == "__main__":
    unittest.main()
