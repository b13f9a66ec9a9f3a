"""The card's road from the window: the free bytes a person reads in the status bar, an image
file, and a card written over a pty into a virtual instrument that behaves as real ones do
(Active Sensing between replies, a clock byte inside each one, erases that take their time):
sent again after a blank card was swapped in, stopped half-way, erased, or refused by an
instrument of the other family."""

import os
import signal
import sys
import time
import unittest

from desktop import DesktopTestCase, wait_for

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from cardmill_e2e import card_holds  # noqa: E402


class Card(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("gig.cmr")
        self.cardmill("new", self.project, "--name", "Gig", "--card-size", "1M")
        # Two seconds of 44.1 kHz sound: the image spans two of the card's sectors.
        self.cardmill("add", self.project, "--group", "k1",
                      self.tone(self.path("pad.wav"), 2, "sine", "220", rate=44100))
        self.cardmill("add", self.project, "--group", "d1", self.tone(self.path("kick.wav"), 0.3, "sine", "60"))
        self.image = self.path("expected.img")
        self.cardmill("image", self.project, "-o", self.image)
        with open(self.image, "rb") as image:
            self.expected = image.read()

    def plug_in(self, card, *options):
        """The virtual instrument keeping its card in `card`, reached through the link `synth` in
        the test's folder (the MIDI port set in the preferences), as an interface plugged in
        again comes back under the same name."""
        sim, pts = self.sim(card, "--log", self.path("sim.log"), *options)
        port = self.path("synth")
        if os.path.lexists(port):
            os.remove(port)
        os.symlink(pts, port)
        self.cardmill("prefs", f"MidiInputPort={port}", f"MidiOutputPort={port}")
        return sim

    def unplug(self, sim):
        """The instrument switched off: it saves its card and its pty goes."""
        sim.send_signal(signal.SIGTERM)
        sim.wait(30)

    def sim_received(self, what):
        if not os.path.exists(self.path("sim.log")):
            return []
        with open(self.path("sim.log")) as log:
            return [line for line in log if f" received {what}" in line]

    def project_menu(self, letter):
        """An item of the Project menu that runs on the instrument, by its underlined letter once
        the menu is open; its progress dialog. A machine this busy can lose the keys while the
        window takes the focus or the menu opens: the window is then activated again and the menu
        opened again."""
        for _ in range(3):
            self.desktop.activate(self.desktop.windows("^Cardmill - ")[-1])
            self.desktop.key("alt+p")
            time.sleep(0.5)
            self.desktop.key(letter)
            try:
                return self.desktop.wait_window("^Progress$", timeout=15)
            except AssertionError:
                self.desktop.screenshot("no-progress-dialog")
                self.desktop.key("Escape")
        raise AssertionError(f"the Project menu's '{letter}' opened no progress dialog")

    def test_the_status_bar_shows_the_free_bytes_of_the_project(self):
        gui = self.gui(self.project)
        free = wait_for("the free bytes in the status bar", lambda: gui.free_bytes("status-bar"))
        self.assertEqual(free, self.listing(self.project)["freeBytes"])

    def test_rename_group_refuses_a_name_that_cardmill_commands_use_for_another_group(self):
        gui = self.gui(self.project)
        desktop = self.desktop
        desktop.key("alt+p", "r")
        dialog = desktop.wait_window("^Keyboard Group 1$")
        desktop.key("ctrl+a")
        desktop.type("k2")
        desktop.key("Return")
        # Refused with the message `cardmill set --group-name k1=k2` gives; the dialog stays.
        self.message("k2-is-refused", "names a group already", timeout=120)
        desktop.activate(dialog)
        desktop.key("ctrl+a")
        desktop.type("Pads")
        desktop.screenshot("a-name-of-its-own", dialog)
        desktop.key("Return")
        desktop.wait_gone(dialog)
        self.save(gui, "the project saved with the group's new name",
                  lambda: self.listing(self.project)["groups"][0]["name"] == "Pads")

    def test_create_image_file_with_a_bare_name_writes_what_cardmill_image_writes_and_says_where(self):
        gui = self.gui(self.project)
        chooser = self.menu(gui, "alt+p", "f", "^Create Image File$")
        self.desktop.screenshot("asked-for-the-image-file")
        self.type_name(chooser, self.path("drums"))
        self.desktop.wait_gone(chooser)
        _, shown = self.message("the-image-is-ready-and-where", "The image file is ready.", timeout=120)
        # Read from the screen, the quote after the name can take the "g" with it.
        self.assertRegex(shown, r"drums\.im")
        self.desktop.screenshot("done", gui.window)
        self.assertFalse(os.path.exists(self.path("drums")))
        with open(self.path("drums.img"), "rb") as image:
            self.assertEqual(image.read(), self.expected)

    def test_send_to_synthesizer_writes_the_image_into_an_instrument_that_misbehaves(self):
        card = self.path("card.bin")
        sim = self.plug_in(card, "--active-sensing", "--clock", "--erase-ms", "400", "--write-ms", "2")
        gui = self.gui(self.project)
        progress = self.project_menu("s")
        self.desktop.screenshot("sending")
        self.message("the-card-is-ready", "The card is ready.", timeout=120)
        self.desktop.wait_gone(progress)
        self.desktop.screenshot("sent", gui.window)
        self.unplug(sim)
        self.assertTrue(card_holds(card, self.expected), "the card differs from the image")
        self.assertEqual(os.path.getsize(card), 1024 * 1024)

    def test_send_again_after_a_blank_card_was_swapped_in_writes_the_whole_card(self):
        card = self.path("card.bin")
        sim = self.plug_in(card)
        gui = self.gui(self.project)
        self.project_menu("s")
        self.message("the-card-is-ready", "The card is ready.", timeout=120)

        # Switched off, its pty gone: the port's own reason, not a silent synthesizer.
        self.unplug(sim)
        self.project_menu("s")
        self.message("the-port-cant-be-opened", "be opened: No such file or directory", timeout=120)

        # A blank card in the slot, switched on again under the same name.
        with open(card, "wb") as blank:
            blank.write(b"\xff" * 1024 * 1024)
        sim = self.plug_in(card)
        self.project_menu("s")
        self.message("asked-whether-the-card-is-still-there", "already holds this card image",
                     "is still in the synthesizer", "Leave it as", timeout=120)
        self.message("the-whole-card-is-written", "The card is ready.", timeout=120)
        self.desktop.screenshot("sent", gui.window)
        self.unplug(sim)
        self.assertTrue(card_holds(card, self.expected), "the swapped card was not written")

    def test_stop_during_a_send_says_how_far_it_got_and_the_next_send_resumes(self):
        card = self.path("card.bin")
        sim = self.plug_in(card, "--write-ms", "60")
        self.gui(self.project)
        desktop = self.desktop
        progress = self.project_menu("s")
        wait_for("the first sector on the card", lambda: self.sim_received("write block 2 of sector 1"),
                 timeout=60, every=0.05)
        desktop.key("Return")  # Stop, the dialog's one button
        self.message("told-how-far-it-got", "The transfer was stopped", "holds 1 of the 2 sectors", "resume",
                     timeout=120)
        desktop.wait_gone(progress)

        self.project_menu("s")
        # Yes, left of No, the default.
        self.message("offered-to-resume", "stopped with 1 of 2", "Resume it", close=("shift+Tab", "space"),
                     timeout=120)
        self.message("resumed", "1 of 2 sectors needed writing", timeout=120)
        self.unplug(sim)
        self.assertTrue(card_holds(card, self.expected))

    def test_erase_card_asks_first_and_enter_keeps_the_card(self):
        card = self.path("card.bin")
        with open(card, "wb") as holding:
            holding.write(self.expected + b"\xff" * (1024 * 1024 - len(self.expected)))
        sim = self.plug_in(card)
        self.gui(self.project)
        self.project_menu("e")
        self.message("asked-before-erasing", "Erase the card in the synthesizer?", "1 Meg", timeout=120)
        time.sleep(1)
        self.assertEqual(self.sim_received("erase"), [])

        self.project_menu("e")
        # OK, left of Cancel, the default.
        self.message("asked-again", "Erase the card in the synthesizer?", close=("shift+Tab", "space"), timeout=120)
        self.message("told-what-was-erased", "The card is erased: its first 1 Meg.", timeout=120)
        self.unplug(sim)
        with open(card, "rb") as erased:
            self.assertEqual(erased.read(), b"\xff" * 1024 * 1024)

    def test_enter_writes_nothing_to_an_instrument_of_the_other_family(self):
        card = self.path("card.bin")
        sim = self.plug_in(card, "--family", "percula")
        self.gui(self.project)
        progress = self.project_menu("s")
        self.message("asked-about-the-other-family", "Write it to the card all the same?", timeout=120)
        self.desktop.wait_gone(progress)
        self.unplug(sim)
        self.assertEqual(self.sim_received("write block"), [])
        self.assertFalse(os.path.exists(card) and card_holds(card, self.expected))


if __name__ == "__main__":
    unittest.main(verbosity=2)
