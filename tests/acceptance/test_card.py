"""The card's road from the window: the free bytes a person reads in the status bar, an image
file, and a card written over a pty into a virtual instrument that behaves as real ones do
(Active Sensing between replies, a clock byte inside each one, erases that take their time)."""

import json
import os
import signal
import subprocess
import unittest

from desktop import CARDMILL, DesktopTestCase, wait_for


class Card(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("gig.cmr")
        self.cardmill("new", self.project, "--name", "Gig", "--card-size", "1M")
        # Two seconds of 44.1 kHz sound: the image spans two of the card's sectors.
        pad = self.path("pad.wav")
        self.sox("-n", "-r", "44100", "-b", "16", "-c", "1", pad, "synth", "2", "sine", "220")
        kick = self.path("kick.wav")
        self.sox("-n", "-r", "22050", "-b", "16", "-c", "1", kick, "synth", "0.3", "sine", "60")
        self.cardmill("add", self.project, "--group", "k1", pad)
        self.cardmill("add", self.project, "--group", "d1", kick)
        self.image = self.path("expected.img")
        self.cardmill("image", self.project, "-o", self.image)
        with open(self.image, "rb") as image:
            self.expected = image.read()

    def project_free_bytes(self):
        return json.loads(self.cardmill("list", "--json", self.project).stdout)["freeBytes"]

    def wait_message(self, step, text):
        """The message box that says `text`, read off the screen, then closed with Enter."""
        box = self.desktop.wait_window("^Cardmill$", timeout=120)
        shown = self.desktop.read(step, box)
        self.assertIn(text, shown)
        self.desktop.key("Return")
        self.desktop.wait_gone(box)

    def test_the_status_bar_shows_the_free_bytes_of_the_project(self):
        gui = self.gui(self.project)
        free = wait_for("the free bytes in the status bar", lambda: gui.free_bytes("status-bar"))
        self.assertEqual(free, self.project_free_bytes())

    def test_create_image_file_writes_what_cardmill_image_writes(self):
        gui = self.gui(self.project)
        desktop = self.desktop
        desktop.key("alt+p", "f")
        chooser = desktop.wait_window("^Create Image File$")
        desktop.screenshot("asked-for-the-image-file")
        written = self.path("from-the-window.img")
        desktop.key("ctrl+a")
        desktop.type(written)
        desktop.key("Return")
        desktop.wait_gone(chooser)
        self.wait_message("the-image-is-ready", "The image file is ready.")
        desktop.screenshot("done", gui.window)
        with open(written, "rb") as image:
            self.assertEqual(image.read(), self.expected)

    def test_send_to_synthesizer_writes_the_image_into_an_instrument_that_misbehaves(self):
        card = self.path("card.bin")
        sim = subprocess.Popen(
            [CARDMILL, "sim", "--pty", "--card", card, "--card-size", "1M", "--active-sensing",
             "--clock", "--erase-ms", "400", "--write-ms", "2", "--log", self.path("sim.log")],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(sim.wait, 30)
        self.addCleanup(sim.send_signal, signal.SIGTERM)
        port = sim.stdout.readline().strip()
        self.assertTrue(port.startswith("/dev/pts/"), port)
        self.cardmill("prefs", f"MidiInputPort={port}", f"MidiOutputPort={port}")

        gui = self.gui(self.project)
        desktop = self.desktop
        desktop.key("alt+p", "s")
        progress = desktop.wait_window("^Progress$")
        desktop.screenshot("sending")
        self.wait_message("the-card-is-ready", "The card is ready.")
        desktop.wait_gone(progress)
        desktop.screenshot("sent", gui.window)
        sim.send_signal(signal.SIGTERM)
        sim.wait(30)
        with open(card, "rb") as written:
            on_card = written.read()
        self.assertEqual(on_card[:len(self.expected)], self.expected)
        self.assertEqual(os.path.getsize(card), 1024 * 1024)


if __name__ == "__main__":
    unittest.main(verbosity=2)
