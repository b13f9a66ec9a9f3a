"""Saving from the window as a newcomer does it: names typed without their extension in every
save dialog, a project kept under a bare name opened again, the title's mark of unsaved changes,
the card image's whereabouts, the status bar of a project over its card, and a sequence's name."""

import json
import os
import subprocess
import time
import unittest

from desktop import DesktopTestCase, wait_for


class Saving(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("live.cmr")
        self.cardmill("new", self.project, "--name", "Live", "--card-size", "1M")
        for name, frequency in (("kick.wav", 60), ("snare.wav", 180)):
            self.sox("-n", "-r", "22050", "-b", "16", "-c", "1", self.path(name), "synth",
                     "0.3", "sine", str(frequency))

    def listed(self, project):
        listing = json.loads(self.cardmill("list", "--json", project).stdout)
        return [[f["file"] for f in group["files"]] for group in listing["groups"]]

    def title(self, window):
        """The window's title, as the window manager shows it in the title bar."""
        return subprocess.run(["xdotool", "getwindowname", str(window)], env=self.desktop.env,
                              capture_output=True, text=True).stdout.strip()

    def add_file(self, gui, path):
        desktop = self.desktop
        desktop.activate(gui.window)
        desktop.key("ctrl+d")
        dialog = desktop.wait_window("^Add files to project$")
        desktop.type(path)
        desktop.key("Return", "alt+d")
        desktop.wait_gone(dialog)
        desktop.activate(gui.window)

    def test_save_as_with_a_bare_name_saves_a_project_file_and_asks_before_replacing_it(self):
        gui = self.gui(self.project)
        self.add_file(gui, self.path("kick.wav"))
        chooser = self.menu(gui, "alt+f", "a", "^Save As$")
        self.desktop.screenshot("save-as-under-the-project-type", chooser)
        self.type_name(chooser, self.path("perc"))
        self.desktop.wait_gone(chooser)
        wait_for("perc.cmr on disk", lambda: os.path.exists(self.path("perc.cmr")))
        self.assertFalse(os.path.exists(self.path("perc")))
        self.assertEqual(self.listed(self.path("perc.cmr"))[0], ["kick.wav"])
        self.assertTrue(self.title(gui.window).endswith("perc.cmr"), self.title(gui.window))

        # The same bare name again, with more in the project: the file it names is asked about.
        self.add_file(gui, self.path("snare.wav"))
        chooser = self.menu(gui, "alt+f", "a", "^Save As$")
        self.type_name(chooser, self.path("perc"))
        asked = wait_for("the question about perc.cmr",
                         lambda: [w for w in self.desktop.windows("^Save As$") if w != chooser])[-1]
        shown = self.desktop.read("perc-cmr-is-asked-about", asked)
        self.assertIn("already exists", shown)
        self.assertIn("perc.cmr", shown)
        self.desktop.key("alt+n")
        self.desktop.wait_gone(asked)
        self.assertEqual(self.listed(self.path("perc.cmr"))[0], ["kick.wav"])
        self.type_name(chooser, self.path("perc"))
        asked = wait_for("the question again",
                         lambda: [w for w in self.desktop.windows("^Save As$") if w != chooser])[-1]
        self.desktop.activate(asked)
        self.desktop.key("alt+y")
        self.desktop.wait_gone(chooser)
        wait_for("perc.cmr replaced",
                 lambda: self.listed(self.path("perc.cmr"))[0] == ["kick.wav", "snare.wav"])

    def test_create_image_file_with_a_bare_name_writes_an_img_and_says_where(self):
        self.cardmill("add", self.project, self.path("kick.wav"))
        gui = self.gui(self.project)
        chooser = self.menu(gui, "alt+p", "f", "^Create Image File$")
        self.type_name(chooser, self.path("drums"))
        self.desktop.wait_gone(chooser)
        told = self.desktop.wait_window("^Cardmill$", timeout=60)
        shown = self.desktop.read("the-image-is-ready-and-where", told)
        self.assertIn("The image file is ready.", shown)
        # Read from the screen, the quote after the name can take the "g" with it.
        self.assertRegex(shown, r"drums\.im")
        self.desktop.key("Return")
        self.assertTrue(os.path.exists(self.path("drums.img")))
        self.assertFalse(os.path.exists(self.path("drums")))

    def test_the_instruments_save_dialog_adds_cmt_to_a_bare_name(self):
        gui = self.gui(self.project)
        dialog = self.menu(gui, "alt+f", "c", "^Create instrument$")
        self.desktop.type(self.path("kick.wav"))
        self.desktop.key("Return", "alt+d")
        self.desktop.wait_gone(dialog)
        save = self.desktop.wait_window("^Save Instrument$")
        self.type_name(save, self.path("mypiano"))
        self.desktop.wait_gone(save)
        wait_for("mypiano.cmt on disk", lambda: os.path.exists(self.path("mypiano.cmt")))
        self.assertFalse(os.path.exists(self.path("mypiano")))

    def test_a_project_kept_without_its_extension_opens_as_a_project(self):
        self.cardmill("add", self.project, self.path("kick.wav"))
        bare = self.path("perc")
        os.rename(self.project, bare)
        # Given on the command line, as a file manager or a terminal gives it.
        gui = self.gui(bare)
        shown = self.desktop.read("opened-from-the-command-line", gui.window, top=130, right=590)
        self.assertIn("kick.wav", shown)
        # No raw-data question, no "can't understand".
        self.assertEqual(self.desktop.windows("^Cardmill$"), [])
        # And through Open, by typing its name.
        self.desktop.key("ctrl+n")
        self.desktop.wait_window("^Cardmill - untitled")
        chooser = self.menu(gui, "alt+f", "o", "^Open$")
        self.type_name(chooser, bare)
        self.desktop.wait_gone(chooser)
        self.desktop.wait_window("^Cardmill - .*/perc$")
        self.assertIn("kick.wav", self.desktop.read("opened-through-open", gui.window, top=130, right=590))
        self.assertEqual(self.desktop.windows("^Cardmill$"), [])

    def test_the_title_marks_unsaved_changes_until_they_are_saved(self):
        gui = self.gui(self.project)
        self.assertFalse(self.title(gui.window).endswith("*"), self.title(gui.window))
        self.add_file(gui, self.path("kick.wav"))
        wait_for("the mark of unsaved changes", lambda: self.title(gui.window).endswith("live.cmr*"))
        self.desktop.screenshot("marked-unsaved")
        self.desktop.key("ctrl+s")
        wait_for("the mark gone once saved", lambda: self.title(gui.window).endswith("live.cmr"))
        self.desktop.screenshot("saved")

    def test_a_sequence_is_shown_by_its_files_name(self):
        import mido  # Debian's python3-mido
        song = mido.MidiFile(type=0, ticks_per_beat=96)
        song.tracks.append(mido.MidiTrack([mido.Message("note_on", note=60, velocity=90),
                                           mido.Message("note_off", note=60, time=96)]))
        song.save(self.path("groove.mid"))
        self.cardmill("add", self.project, self.path("groove.mid"))
        gui = self.gui(self.project)
        # From the file list to the groups, then to Sequences, second from the end.
        self.desktop.key("F6", "End", "Up")
        time.sleep(0.5)
        # The file list alone, right of the groups.
        shown = self.desktop.read("the-sequence-by-name", gui.window, right=590)
        self.assertNotIn("Sequence 00", shown)
        self.assertGreaterEqual(shown.count("groove"), 2, shown)


class OverTheCard(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("big.cmr")
        self.cardmill("new", self.project, "--name", "Big", "--card-size", "128K")
        pad = self.path("pad.wav")
        self.sox("-n", "-r", "44100", "-b", "16", "-c", "1", pad, "synth", "2", "sine", "220")
        self.cardmill("add", self.project, pad, check=None)

    def warning_pixels(self, shot):
        """How many pixels of the screenshot's bottom strip are a strong red."""
        ppm = subprocess.run(["convert", shot, "-gravity", "South", "-crop", "0x40+0+0", "+repage",
                              "ppm:-"], capture_output=True, check=True).stdout
        magic, width, height, depth, rest = ppm.split(maxsplit=4)
        pixels = rest[:int(width) * int(height) * 3]
        return sum(1 for i in range(0, len(pixels), 3)
                   if pixels[i] > 100 and pixels[i] > 3 * max(pixels[i + 1], pixels[i + 2], 10))

    def test_the_status_bar_says_by_how_much_in_red_and_send_points_to_fit_to_card(self):
        free = json.loads(self.cardmill("list", "--json", self.project).stdout)["freeBytes"]
        self.assertLess(free, 0)
        gui = self.gui(self.project)
        status = wait_for("the status bar's verdict", lambda: (
            lambda text: text if "card" in text.lower() and "bytes" in text else None)(
                self.desktop.read("status-bar", gui.window, bottom=40)))
        # Bold words may read run together.
        self.assertIn("Overthecardby", status.replace(" ", ""))
        self.assertIn(f"{-free:,}", status)
        self.assertGreater(self.warning_pixels(self.desktop.screenshot("in-red", gui.window)), 30)

        self.desktop.key("alt+p")
        time.sleep(0.5)
        self.desktop.key("s")
        told = self.desktop.wait_window("^Cardmill$", timeout=30)
        shown = self.desktop.read("send-refused", told)
        self.assertIn("too large", shown)
        self.assertIn("Fit to Card", shown)
        self.desktop.key("Return")


if __name__ == "__main__":
    unittest.main(verbosity=2)
