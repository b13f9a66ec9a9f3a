"""A person double-clicks a project in a file manager: the desktop finds Cardmill for it through
the menu entry and the file type that the package installs, and the project opens in it."""

import os
import shutil
import signal
import subprocess
import unittest

from desktop import CARDMILL_GUI, DesktopTestCase

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


if __name__ == "__main__":
    unittest.main(verbosity=2)
