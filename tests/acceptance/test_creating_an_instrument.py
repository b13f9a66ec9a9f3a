"""Create Instrument as a person uses it: the group chosen in the window first, the sounds typed in
any order, and the new instrument found in that group with its key groups laid out from the
sounds' own root keys, as `cardmill instrument --keys auto` lays them."""

import json
import unittest

from desktop import DesktopTestCase, wait_for
from looks import write_wav


class CreatingAnInstrument(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("live.cmr")
        self.cardmill("new", self.project, "--name", "Live", "--card-size", "1M")

    def listed_groups(self):
        return json.loads(self.cardmill("list", "--json", self.project).stdout)["groups"]

    def create(self, gui, group_downs, names, instrument):
        """In the window: the group list, `group_downs` rows down from K1, then Create
        Instrument with the sounds typed in the order given, saved as `instrument`."""
        desktop = self.desktop
        desktop.key("F6", *(["Down"] * group_downs))
        desktop.screenshot("the-group-is-chosen", gui.window)
        desktop.key("alt+f", "c")
        dialog = desktop.wait_window("^Create instrument$")
        for name in names:
            desktop.type(self.path(name))
            desktop.key("Return")
        desktop.screenshot("the-samples-wait", dialog)
        desktop.key("alt+d")
        desktop.wait_gone(dialog)
        save = desktop.wait_window("Instrument|instrument|Save")
        desktop.type(self.path(instrument))
        desktop.key("Return")
        desktop.wait_gone(save)

    def save(self, gui, where, instrument):
        """Ctrl+S in the window; the instrument as the saved project lists it. A machine this busy
        can lose the keys while the window takes the focus: they are then pressed again."""
        def saved():
            return [f for f in self.listed_groups()[where]["files"] if f["file"] == instrument]
        for attempt in range(3):
            self.desktop.activate(gui.window)
            self.desktop.key("ctrl+s")
            try:
                return wait_for(f"the project saved with {instrument}", saved, timeout=10)[0]
            except AssertionError:
                if attempt == 2:
                    raise

    def test_the_instrument_goes_to_the_group_chosen_with_keys_from_the_samples_roots(self):
        for name, root in (("high.wav", 84), ("low.wav", 36), ("mid.wav", 60)):
            write_wav(self.path(name), root)
        gui = self.gui(self.project)
        # K3, the sounds typed highest first.
        self.create(gui, 2, ["high.wav", "low.wav", "mid.wav"], "pad.cmt")
        desktop = self.desktop
        shown = desktop.read("the-instrument-is-in-k3", gui.window)
        self.assertIn("pad.cmt", shown)
        self.assertEqual(desktop.windows("^Cardmill$"), [], "no message for roots that differ")
        voice = self.save(gui, 2, "pad.cmt")
        self.assertEqual(self.listed_groups()[0]["files"], [])
        # What the command line makes of the same sounds, named from the lowest root up.
        self.cardmill("instrument", "-o", self.path("cli.cmt"), "--keys", "auto",
                      self.path("low.wav"), self.path("mid.wav"), self.path("high.wav"))
        cli = self.path("cli.cmr")
        self.cardmill("new", cli)
        self.cardmill("add", cli, "--group", "k3", self.path("cli.cmt"))
        made = json.loads(self.cardmill("list", "--json", cli).stdout)["groups"][2]["files"][0]
        self.assertEqual(voice["upperKeys"], [48, 72, 127])
        self.assertEqual(voice["upperKeys"], made["upperKeys"])
        self.assertEqual([s["file"] for s in voice["samples"]],
                         [s["file"] for s in made["samples"]])
        self.assertEqual([s["rootKey"] for s in voice["samples"]], [36, 60, 84])

    def test_samples_without_roots_of_their_own_share_the_keyboard_and_the_user_is_told(self):
        for name in ("one.wav", "two.wav"):
            write_wav(self.path(name))
        gui = self.gui(self.project)
        self.create(gui, 1, ["one.wav", "two.wav"], "hits.cmt")
        desktop = self.desktop
        told = desktop.wait_window("^Cardmill$")
        shown = desktop.read("why-the-keyboard-is-shared", told)
        self.assertIn("same root key", shown)
        self.assertIn("share it evenly", shown)
        desktop.key("Return")
        desktop.wait_gone(told)
        voice = self.save(gui, 1, "hits.cmt")
        self.assertEqual(voice["upperKeys"], [63, 127])
        self.assertEqual([s["file"] for s in voice["samples"]], ["one.wav", "two.wav"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
