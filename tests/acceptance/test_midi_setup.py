"""A person whose instrument is reached through a pty (a raw MIDI port RtMidi doesn't list)
chooses it in MIDI Setup with the keyboard and sends a card to it; another sets the port with
`cardmill prefs` while the window is open and finds it there; a third sends through an interface
that loses bytes of long messages, finds the card exact and the pace that worked in MIDI Setup,
and sets one there. The status bar names the port in use throughout."""

import re
import signal
import time
import unittest

from desktop import DesktopTestCase, wait_for


class MidiSetup(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("gig.cmr")
        self.cardmill("new", self.project, "--name", "Gig", "--card-size", "1M")
        self.cardmill("add", self.project, "--group", "k1", self.tone(self.path("pad.wav"), 1, "sine", "220"))
        self.image = self.path("expected.img")
        self.cardmill("image", self.project, "-o", self.image)
        with open(self.image, "rb") as image:
            self.expected = image.read()
        self.card = self.path("card.bin")
        self.synth, self.pty = self.sim(self.card)

    def status_port(self, gui, step):
        """The port the status bar names (its right end), as read."""
        shown = self.desktop.read(step, gui.window, bottom=30, right=330)
        match = re.search(r"MIDI ports?:?\s*(.*)", shown)
        return match.group(1) if match else ""

    def send_to_synthesizer(self, gui):
        """Project > Send to Synthesizer, and the message that ends it: no question on the way."""
        self.desktop.activate(gui.window)
        self.desktop.key("alt+p")
        time.sleep(0.5)
        self.desktop.key("s")
        self.message("the-card-is-ready", "The card is ready.", timeout=120)

    def test_a_pty_typed_into_midi_setup_is_where_the_card_goes(self):
        gui = self.gui(self.project)
        desktop = self.desktop
        self.assertNotIn("pts", self.status_port(gui, "the-port-at-first"))

        dialog = self.menu(gui, "alt+p", "m", "^MIDI Setup$")
        desktop.key("alt+p")
        desktop.type("/dev/pts/no-such-pty")
        desktop.key("Return")
        self.message("a-path-that-is-no-port", "doesn't exist", timeout=10)
        desktop.activate(dialog)
        desktop.key("ctrl+a")  # the refused path is still there, selected
        desktop.type(self.pty)
        desktop.screenshot("the-pty-typed", dialog)
        desktop.key("Return")
        desktop.wait_gone(dialog)
        wait_for("the status bar naming the pty",
                 lambda: "pts" in self.status_port(gui, "the-pty-in-use"), timeout=10)

        self.send_to_synthesizer(gui)
        self.synth.send_signal(signal.SIGTERM)
        self.synth.wait(30)
        with open(self.card, "rb") as written:
            self.assertEqual(written.read()[:len(self.expected)], self.expected)

    def test_a_port_set_with_cardmill_prefs_is_seen_while_the_window_is_open(self):
        gui = self.gui(self.project)
        desktop = self.desktop
        self.assertNotIn("pts", self.status_port(gui, "the-port-at-first"))
        self.cardmill("prefs", f"MidiInputPort={self.pty}", f"MidiOutputPort={self.pty}")
        wait_for("the status bar naming the pty",
                 lambda: "pts" in self.status_port(gui, "the-pty-in-use"), timeout=10)
        dialog = self.menu(gui, "alt+p", "m", "^MIDI Setup$")
        shown = desktop.read("midi-setup-lists-the-pty", dialog)
        self.assertIn("pts", shown)
        desktop.key("Escape")
        desktop.wait_gone(dialog)

    def test_through_an_interface_that_loses_bytes_the_card_is_exact_and_midi_setup_keeps_the_pace(self):
        card = self.path("lossy.bin")
        sim, pty = self.sim(card, "--lose-every", "255")
        self.cardmill("prefs", f"MidiInputPort={pty}", f"MidiOutputPort={pty}")
        gui = self.gui(self.project)
        desktop = self.desktop
        wait_for("the status bar naming the pty",
                 lambda: "pts" in self.status_port(gui, "the-lossy-pty-in-use"), timeout=10)
        self.send_to_synthesizer(gui)

        dialog = self.menu(gui, "alt+p", "m", "^MIDI Setup$")
        # The pace field and the buttons, alone: the whole dialog reads less well.
        shown = desktop.read("midi-setup-shows-the-pace-found", dialog, bottom=65)
        self.assertIn("31250", shown)
        desktop.key("alt+e")
        desktop.key("ctrl+a")
        desktop.type("3125")
        desktop.screenshot("the-din-rate-typed", dialog)
        desktop.key("Return")
        desktop.wait_gone(dialog)
        self.assertIn(f"{pty}: 3,125 bytes a second", self.cardmill("ports").stdout)
        sim.send_signal(signal.SIGTERM)
        sim.wait(30)
        with open(card, "rb") as written:
            self.assertEqual(written.read()[:len(self.expected)], self.expected)


if __name__ == "__main__":
    unittest.main(verbosity=2)
