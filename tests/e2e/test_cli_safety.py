"""The command line used as people use git and sox: several commands on one project at once,
Ctrl-C at every kind of moment, outputs that would overwrite inputs, and small habits."""

import json
import os
import pty
import select
import shutil
import signal
import subprocess
import time
import unittest

from cardmill_e2e import CARDMILL, KILL_AT_CALL_LIBRARY, CardmillTestCase


class CliSafety(CardmillTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("live.cmr")
        self.run_cardmill("new", self.project, "--card-size", "2M", check=0)
        self.sounds = []
        for i in range(20):
            name = self.path(f"tone{i:02d}.wav")
            self.tool("sox", "-n", "-r", "22050", "-b", "16", "-c", "1", name, "synth", "0.05", "sine",
                      str(200 + 20 * i))
            self.sounds.append(name)
        self.env = dict(os.environ, CARDMILL_CONFIG_DIR=self.config)

    def project_bytes(self):
        with open(self.project, "rb") as f:
            return f.read()

    def files_in_project(self):
        listing = json.loads(self.run_cardmill("--json", "list", self.project, check=0).stdout)
        return sorted(f["file"] for g in listing["groups"] for f in g["files"])

    def test_twenty_parallel_adds_each_land_or_say_the_project_is_in_use(self):
        runs = [subprocess.Popen([CARDMILL, "add", self.project, sound], env=self.env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                for sound in self.sounds]
        landed = []
        for sound, run in zip(self.sounds, runs):
            _, stderr = run.communicate(timeout=120)
            if run.returncode == 0:
                landed.append(os.path.basename(sound))
            else:
                self.assertEqual(run.returncode, 1, stderr)
                self.assertIn("is in use by another program", stderr)
        self.assertEqual(self.files_in_project(), sorted(landed))
        self.assertGreater(len(landed), 0)

    def run_with_signal_at(self, args, call, expect=130):
        env = dict(self.env, LD_PRELOAD=KILL_AT_CALL_LIBRARY, KILL_AT_CALL=str(call),
                   KILL_SIGNAL=str(int(signal.SIGINT)))
        result = subprocess.run([CARDMILL, *args], env=env, capture_output=True, text=True,
                                stdin=subprocess.DEVNULL, timeout=120)
        self.assertEqual(result.returncode, expect, f"call {call}: {result.stderr}")
        return result

    def count_calls(self, args):
        count = self.path("count")
        env = dict(self.env, LD_PRELOAD=KILL_AT_CALL_LIBRARY, KILL_AT_COUNT_FILE=count)
        subprocess.run([CARDMILL, *args], env=env, capture_output=True, stdin=subprocess.DEVNULL,
                       check=True, timeout=120)
        with open(count) as f:
            return int(f.read())

    def test_ctrl_c_while_loading_and_while_compiling_leaves_nothing_behind(self):
        self.run_cardmill("add", self.project, *self.sounds, check=0)
        before = self.project_bytes()
        image = self.path("card.img")
        image_run = ["image", self.project, "-o", image]
        calls = self.count_calls(image_run)
        os.remove(image)
        # Early calls fall while the project loads, late ones while the image is written.
        for call in (2, calls // 3, calls // 2, calls - 8):
            result = self.run_with_signal_at(image_run, call)
            self.assertTrue(result.stderr.endswith("cardmill: stopped\n"), result.stderr)
            self.assertNotIn("could not be opened", result.stderr)
            self.assertEqual([n for n in os.listdir(self.dir) if n.startswith("card")], [])
        add_run = ["add", self.project, self.path("extra.wav")]
        self.tool("sox", "-n", "-r", "22050", "-b", "16", "-c", "1", self.path("extra.wav"), "synth", "0.05",
                  "noise")
        for call in (2, 6):
            self.run_with_signal_at(add_run, call)
            self.assertEqual(self.project_bytes(), before)
        result = self.run_with_signal_at(["image", self.project, "-o", image], calls // 2, expect=130)
        self.assertFalse(os.path.exists(image))

    def test_ctrl_c_at_a_question_is_cancel(self):
        with open(self.path("blob.bin"), "wb") as f:
            f.write(bytes(range(256)) * 8)
        before = self.project_bytes()
        pid, terminal = pty.fork()
        if pid == 0:
            os.environ["CARDMILL_CONFIG_DIR"] = self.config
            os.execv(CARDMILL, [CARDMILL, "add", self.project, self.path("blob.bin")])
        shown = b""
        deadline = time.time() + 30
        while b"[o]k / [c]ancel?" not in shown and time.time() < deadline:
            if select.select([terminal], [], [], 1)[0]:
                try:
                    shown += os.read(terminal, 4096)
                except OSError:
                    break
        self.assertIn(b"[o]k / [c]ancel?", shown)
        os.kill(pid, signal.SIGINT)
        deadline = time.time() + 30
        while (ended := os.waitpid(pid, os.WNOHANG))[0] == 0 and time.time() < deadline:
            time.sleep(0.05)
        if ended[0] == 0:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            self.fail("Ctrl-C at the question did not end the command")
        status = ended[1]
        os.close(terminal)
        self.assertEqual(os.waitstatus_to_exitcode(status), 130)
        self.assertEqual(self.project_bytes(), before)

    def test_sigterm_ends_with_143(self):
        self.run_cardmill("add", self.project, *self.sounds, check=0)
        env = dict(self.env, LD_PRELOAD=KILL_AT_CALL_LIBRARY, KILL_AT_CALL="4",
                   KILL_SIGNAL=str(int(signal.SIGTERM)))
        result = subprocess.run([CARDMILL, "image", self.project, "-o", self.path("t.img")], env=env,
                                capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=120)
        self.assertEqual(result.returncode, 143, result.stderr)
        self.assertFalse(os.path.exists(self.path("t.img")))

    def test_outputs_never_overwrite_what_the_command_reads(self):
        self.run_cardmill("add", self.project, self.sounds[0], check=0)
        before = self.project_bytes()
        refused = self.run_cardmill("image", self.project, "-o", self.project, check=2)
        self.assertIn("is the project", refused.stderr)
        os.symlink(self.sounds[0], self.path("alias.wav"))
        self.run_cardmill("dump", self.project, "-o", self.path("alias.wav"), check=2)
        self.assertEqual(self.project_bytes(), before)
        with open(self.sounds[0], "rb") as f:
            sound = f.read()
        self.run_cardmill("instrument", "-o", self.sounds[0], self.sounds[1], self.sounds[0], check=2)
        with open(self.sounds[0], "rb") as f:
            self.assertEqual(f.read(), sound)
        # Any other existing file is replaced, as cp and sox replace theirs.
        with open(self.path("old.img"), "w") as f:
            f.write("old")
        self.run_cardmill("image", self.project, "-o", self.path("old.img"), check=0)
        with open(self.path("old.img"), "rb") as f:
            self.assertEqual(len(f.read()), json.loads(
                self.run_cardmill("--json", "list", self.project, check=0).stdout)["totalBytes"])

    def test_outputs_to_standard_output(self):
        self.run_cardmill("add", self.project, self.sounds[0], check=0)
        self.run_cardmill("image", self.project, "-o", self.path("file.img"), check=0)
        env = dict(self.env)
        piped = subprocess.run([CARDMILL, "image", self.project, "-o", "-"], env=env, capture_output=True,
                               stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual(piped.returncode, 0, piped.stderr)
        with open(self.path("file.img"), "rb") as f:
            self.assertEqual(piped.stdout, f.read())
        dump = subprocess.run([CARDMILL, "dump", self.project, "-o", "-"], env=env, capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=60)
        self.assertTrue(dump.stdout.startswith(b"Project Name\t"))
        self.assertEqual([n for n in os.listdir(self.dir) if "cardmill-" in n], [])

    def test_a_project_cut_short_is_reported_and_not_saved_over_without_yes(self):
        self.run_cardmill("add", self.project, *self.sounds[:6], check=0)
        self.run_cardmill("set", self.project, "--group-name", "k1=Kit", check=0)
        whole = self.project_bytes()
        cut = self.path("cut.cmr")
        for length in range(100, len(whole), 100):
            with open(cut, "wb") as f:
                f.write(whole[:length])
            listed = self.run_cardmill("list", cut, check=0)
            self.assertIn("The project file 'cut.cmr' is damaged", listed.stderr, f"cut at {length}")
            refused = self.run_cardmill("set", cut, "--name", "Over", check=3)
            self.assertIn("Do you wish to save over it anyway?", refused.stderr)
            with open(cut, "rb") as f:
                self.assertEqual(f.read(), whole[:length], f"cut at {length}")
        self.run_cardmill("--yes", "set", cut, "--name", "Over", check=0)
        self.assertNotIn("damaged", self.run_cardmill("list", cut, check=0).stderr)

    def test_a_full_group_names_the_file_and_its_limit(self):
        copies = []
        for i in range(129):
            copies.append(self.path(f"f{i:03d}.wav"))
            shutil.copy(self.sounds[i % 20], copies[-1])
        self.run_cardmill("add", self.project, *copies[:128], check=0)
        refused = self.run_cardmill("add", self.project, copies[128], check=1)
        self.assertIn("Sorry, but 'f128.wav' can't be added: the group 'noname' holds 128 files, its limit.",
                      refused.stderr)

    def test_habits(self):
        self.assertRegex(self.run_cardmill("--version", check=0).stdout, r"^cardmill \d+\.\d+\.\d+\n$")
        bogus = self.run_cardmill("bogus", check=2)
        self.assertTrue(bogus.stderr.startswith("cardmill: no command 'bogus'\n"), bogus.stderr)
        self.run_cardmill("new", self.path("empty.cmr"), "--name", "", check=2)
        self.assertFalse(os.path.exists(self.path("empty.cmr")))
        refused = self.run_cardmill("add", self.project, "--group", "seq", self.sounds[0], check=2)
        self.assertIn("tone00.wav' is a sound or instrument file, which can't go to Sequences", refused.stderr)
        self.assertEqual(self.files_in_project(), [])


if __name__ == "__main__":
    unittest.main()
