"""What a Debian package installs besides the programs, checked with the desktop's own tools:
manual pages that say what --help says, the menu entry, the file type, the AppStream data, and
bash completion; and cardmill-gui answering --version on a machine without a display."""

import os
import re
import shutil
import subprocess
import unittest

from cardmill_e2e import CARDMILL, CardmillTestCase

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
DATA = os.path.join(ROOT, "data")
GUI = os.environ.get("CARDMILL_GUI", "")
COMPLETION = "/usr/share/bash-completion/bash_completion"


def help_text(*args):
    env = dict(os.environ, COLUMNS="100000")
    return subprocess.run([CARDMILL, *args], check=True, capture_output=True, text=True, env=env).stdout


class DesktopIntegration(CardmillTestCase):
    @unittest.skipUnless(GUI and shutil.which("man"), "needs cardmill-gui and man")
    def test_the_manual_pages_name_every_command_and_option_of_the_help(self):
        folder = self.path("man")
        subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "scripts", "make-manpages"), CARDMILL, GUI, folder],
                       check=True, capture_output=True)
        env = dict(os.environ, MANWIDTH="1000", MAN_KEEP_FORMATTING="0")
        page = subprocess.run(["man", "-l", os.path.join(folder, "cardmill.1")], check=True,
                              capture_output=True, text=True, env=env).stdout
        page = re.sub(".\b", "", page)
        main = help_text("--help")
        commands = re.findall(r"^  ([a-z][a-z-]*)", main.split("Global options")[0], re.M)
        self.assertIn("send-image", commands)
        for command in commands:
            usage = help_text("help", command).splitlines()[0].removeprefix("Usage: cardmill ")
            self.assertIn(usage.strip(), page, command)
            for option in set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", help_text("help", command))):
                self.assertIn(option, page, f"{command}: {option}")
        for option in set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", main)):
            self.assertIn(option, page, option)
        for section in ("EXIT STATUS", "ENVIRONMENT", "FILES", "EXAMPLES"):
            self.assertIn(section, page)
        gui = subprocess.run(["man", "-l", os.path.join(folder, "cardmill-gui.1")], check=True,
                             capture_output=True, text=True, env=env).stdout
        for option in ("--config-dir", "--no-splash", "--version"):
            self.assertIn(option, re.sub(".\b", "", gui))

    @unittest.skipUnless(GUI, "needs cardmill-gui")
    def test_cardmill_gui_tells_its_version_and_help_without_a_display(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        version = subprocess.run([GUI, "--version"], capture_output=True, text=True, env=env, timeout=30)
        self.assertEqual(version.returncode, 0, version.stderr)
        self.assertRegex(version.stdout, r"Cardmill \d+\.\d+\.\d+")
        usage = subprocess.run([GUI, "--help"], capture_output=True, text=True, env=env, timeout=30)
        self.assertEqual(usage.returncode, 0, usage.stderr)
        self.assertIn("--config-dir", usage.stdout)

    @unittest.skipUnless(shutil.which("desktop-file-validate") and shutil.which("appstreamcli")
                         and shutil.which("update-mime-database"), "needs desktop-file-utils, appstream, shared-mime-info")
    def test_the_menu_entry_the_file_type_and_the_appstream_data_are_valid(self):
        for command in (["desktop-file-validate", os.path.join(DATA, "cardmill.desktop")],
                        ["appstreamcli", "validate", "--no-net", "--pedantic",
                         os.path.join(DATA, "com.orvane.cardmill.metainfo.xml")]):
            result = subprocess.run(command, capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertNotRegex(result.stdout + result.stderr, r"(?m)^[EW]:", command[0])
        mime = self.path(os.path.join("share", "mime"))
        os.makedirs(os.path.join(mime, "packages"))
        shutil.copy(os.path.join(DATA, "cardmill-mime.xml"), os.path.join(mime, "packages", "cardmill.xml"))
        result = subprocess.run(["update-mime-database", mime], capture_output=True, text=True,
                                env=dict(os.environ, XDG_DATA_DIRS=self.path("share")))
        self.assertEqual(result.stderr, "")
        with open(os.path.join(mime, "globs2")) as f:
            self.assertIn("application/x-cardmill-project:*.cmr", f.read())
        with open(os.path.join(mime, "icons")) as f:
            self.assertIn("application/x-cardmill-project:cardmill", f.read())

    @unittest.skipUnless(os.path.exists(COMPLETION), "needs bash-completion")
    def test_bash_completes_commands_options_groups_ports_and_files(self):
        project = self.new_project("live.cmr")
        self.sox("kick.wav", "0.1", "sine", "60")
        self.write("notes.txt", b"x")

        def complete(line):
            words = line.split(" ")
            script = (f"source {COMPLETION}; source {os.path.join(DATA, 'cardmill.bash-completion')}; "
                      f"cd {os.path.dirname(project)}; COMP_WORDS=({' '.join(repr(w) for w in words)}); "
                      f"COMP_CWORD={len(words) - 1}; COMP_LINE={line!r}; COMP_POINT={len(line)}; "
                      "_cardmill; printf '%s\\n' \"${COMPREPLY[@]}\"")
            env = dict(os.environ, PATH=os.path.dirname(CARDMILL) + ":" + os.environ["PATH"])
            return subprocess.run(["bash", "-c", script], capture_output=True, text=True, env=env,
                                  timeout=60).stdout.split()

        self.assertIn("send-image", complete("cardmill send"))
        self.assertEqual(complete("cardmill add live.cmr --gr"), ["--group"])
        self.assertIn("--preset", complete("cardmill add live.cmr --pre"))
        self.assertIn("k1", complete("cardmill add live.cmr --group "))
        self.assertIn("sim", complete("cardmill send live.cmr --port "))
        # Folders are offered too, to go into.
        self.assertIn("live.cmr", complete("cardmill list "))
        self.assertNotIn("kick.wav", complete("cardmill list "))
        self.assertIn("kick.wav", complete("cardmill add live.cmr "))
        self.assertNotIn("notes.txt", complete("cardmill add live.cmr "))


if __name__ == "__main__":
    unittest.main()
