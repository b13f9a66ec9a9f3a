"""A person double-clicks a project in a file manager: the desktop finds Cardmill for it through
the menu entry and the file type that the package installs, and the project opens in it. A
project folder copied and moved with its sounds, the sounds touched, opens with no question and
every setting as it was."""

import os
import shutil
import signal
import subprocess
import time
import unittest

from desktop import CARDMILL_GUI, DesktopTestCase, wait_for

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "data")


class OpeningAProject(DesktopTestCase):
    @unittest.skipUnless(shutil.which("gio") and shutil.which("update-desktop-database"),
                         "needs gio and desktop-file-utils")
    def test_a_double_click_on_a_project_opens_it_in_cardmill(self):
        # What the package installs for the desktop, with the databases apt's triggers make.
        share = self.path("share")
        applications = os.path.join(share, "applications")
        packages = os.path.join(share, "mime", "packages")
        os.makedirs(applications)
        os.makedirs(packages)
        shutil.copy(os.path.join(DATA, "cardmill.desktop"), applications)
        shutil.copy(os.path.join(DATA, "cardmill-mime.xml"), os.path.join(packages, "cardmill.xml"))
        env = dict(self.desktop.env, XDG_DATA_DIRS=share + ":/usr/share",
                   XDG_DATA_HOME=self.path("data-home"), XDG_CURRENT_DESKTOP="GNOME",
                   PATH=os.path.dirname(os.path.abspath(CARDMILL_GUI)) + ":" + os.environ["PATH"],
                   CARDMILL_CONFIG_DIR=self.config)
        subprocess.run(["update-desktop-database", applications], check=True, env=env)
        subprocess.run(["update-mime-database", os.path.join(share, "mime")], check=True,
                       capture_output=True, env=env)
        project = self.path("live.cmr")
        self.cardmill("new", project, "--name", "Live")

        # What a file manager does on a double click. Cardmill inherits the log, not a pipe that
        # would keep gio's caller waiting.
        with open(os.path.join(self.desktop.out, "gio-open.log"), "w") as log:
            opened = subprocess.run(["gio", "open", project], env=env, stdout=log, stderr=log,
                                    stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual(opened.returncode, 0, "gio open failed: see gio-open.log")
        window = self.desktop.wait_window(r"^Cardmill - .*live\.cmr$", timeout=30)
        pid = int(subprocess.run(["xdotool", "getwindowpid", str(window)], env=env,
                                 capture_output=True, text=True, check=True).stdout)
        self.addCleanup(lambda: os.kill(pid, signal.SIGKILL) if os.path.exists(f"/proc/{pid}") else None)
        shown = self.desktop.read("the-project-opens-in-cardmill", window)
        self.assertIn("Card Size", shown)

    def test_a_project_folder_copied_and_moved_with_touched_sounds_opens_without_a_question(self):
        song = self.path("song")
        os.makedirs(song)
        project = os.path.join(song, "live.cmr")
        self.cardmill("new", project, "--name", "Live")
        for name, hz in (("kick.wav", "60"), ("bass.wav", "110")):
            self.cardmill("add", project, self.tone(os.path.join(song, name), 0.3, "sine", hz))
        self.cardmill("sample", project, "k1", "1", "--root", "48", "--volume", "200")
        settings = lambda path: [(s["rootKey"], s["volume"]) for g in self.listing(path)["groups"]
                                 for f in g["files"] for s in f["samples"]]
        kept = settings(project)
        time.sleep(1.1)
        shutil.copytree(song, self.path("copy"))
        os.rename(song, self.path("moved"))
        for folder in ("copy", "moved"):
            for name in ("kick.wav", "bass.wav"):
                os.utime(os.path.join(self.path(folder), name))
            moved = os.path.join(self.path(folder), "live.cmr")
            gui = self.gui(moved)
            # The list's first rows alone: a selected row is lost in a reading of the whole window.
            wait_for("the project opened",
                     lambda: "kick" in self.desktop.read(folder + "-opened", gui.window, top=130, right=590))
            # No find-file dialog, no message: the sounds are where the folder took them.
            self.assertEqual(self.desktop.windows("^(Cardmill|Find File|Where is.*)$"), [], folder)
            self.save(gui, "the project saved", lambda: all(
                f["path"].startswith(self.path(folder)) for g in self.listing(moved)["groups"] for f in g["files"]))
            self.assertEqual(settings(moved), kept, folder)
            gui.process.terminate()  # saved: nothing is lost
            gui.process.wait(timeout=10)

    def test_a_file_found_by_name_elsewhere_is_named_and_another_kits_file_is_asked_for(self):
        # A project of other/hat.wav, then kit/kick.wav; the kick moves into other/.
        for folder in ("kit", "other"):
            os.makedirs(self.path(folder))
        hat, kick = self.path("other/hat.wav"), self.path("kit/kick.wav")
        project = self.path("live.cmr")
        self.cardmill("new", project)
        self.cardmill("add", project, self.tone(hat, 0.1, "noise"), self.tone(kick, 0.2, "sine", "60"))
        os.rename(kick, self.path("other/kick.wav"))
        gui = self.gui(project)
        self.message("the-kick-found-elsewhere-is-named", "found elsewhere")
        gui.process.terminate()
        gui.process.wait(timeout=10)
        # Another kit's kick.wav in its place: not taken, but asked for.
        os.rename(self.path("other/kick.wav"), self.path("the-kick.wav"))
        self.tone(self.path("other/kick.wav"), 0.2, "sine", "1000")
        gui = self.gui(project)
        asked = self.desktop.wait_window("^Find file$")
        # The question stands under the chooser's buttons; alone, it reads reliably.
        shown = self.desktop.read("another-kick-is-asked-for", asked, bottom=40)
        self.assertIn("is the sound file", shown)
        self.assertIn("kick.wav", shown)
        self.desktop.key("Escape")

    def test_saving_a_read_only_project_asks_first_and_cancel_keeps_it(self):
        project = self.path("live.cmr")
        self.cardmill("new", project, "--name", "Live")
        sound = self.tone(self.path("kick.wav"), 0.2, "sine", "60")
        os.chmod(project, 0o444)
        with open(project, "rb") as f:
            before = f.read()
        gui = self.gui(project)
        self.add_file(gui, sound)
        self.desktop.key("ctrl+s")
        self.message("the-read-only-project-is-asked-about", "read-only", close="Escape")
        with open(project, "rb") as f:
            self.assertEqual(f.read(), before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
