"""The command line used as people use git and sox: several commands on one project at once,
Ctrl-C at every kind of moment, outputs that would overwrite inputs or fill the disk, damaged
projects and full groups."""

import os
import shutil
import signal
import subprocess
import unittest

from cardmill_e2e import CARDMILL, KILL_AT_CALL_LIBRARY, CardmillTestCase, read


def can_mount():
    if os.geteuid() != 0 or not shutil.which("unshare"):
        return False
    probe = subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-c",
                            "mount -t tmpfs -o size=64k tmpfs /mnt"], capture_output=True)
    return probe.returncode == 0


class CliSafety(CardmillTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.new_project("live.cmr", "--card-size", "2M")
        self.sounds = [self.sox(f"tone{i:02d}.wav", "0.05", "sine", str(200 + 20 * i), rate=22050)
                       for i in range(20)]

    def test_twenty_parallel_adds_each_land_or_say_the_project_is_in_use(self):
        runs = [self.popen("add", self.project, sound, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                for sound in self.sounds]
        landed = []
        for sound, run in zip(self.sounds, runs):
            _, stderr = run.communicate(timeout=120)
            if run.returncode == 0:
                landed.append(os.path.basename(sound))
            else:
                self.assertEqual(run.returncode, 1, stderr)
                self.assertIn("is in use by another program", stderr)
        self.assertEqual(sorted(f["file"] for g in self.listing(self.project)["groups"] for f in g["files"]),
                         sorted(landed))
        self.assertGreater(len(landed), 0)

    def test_a_signal_while_loading_compiling_or_saving_leaves_nothing_behind(self):
        self.run_cardmill("add", self.project, *self.sounds, check=0)
        before = read(self.project)
        image_run = ["image", self.project, "-o", self.path("card.img")]
        self.run_cardmill(*image_run, env={"LD_PRELOAD": KILL_AT_CALL_LIBRARY,
                                           "KILL_AT_COUNT_FILE": self.path("count")}, check=0)
        calls = int(read(self.path("count")))
        image = read(self.path("card.img"))
        os.remove(self.path("card.img"))
        # Early calls fall while the project loads, later ones while the image is written; a signal
        # that comes once the image has taken its place is too late to stop the command.
        for call, how, status in [(c, signal.SIGINT, 130) for c in range(2, calls + 1, 3)] + [(4, signal.SIGTERM, 143)]:
            result = self.run_cardmill(*image_run, env={"LD_PRELOAD": KILL_AT_CALL_LIBRARY,
                                                        "KILL_AT_CALL": str(call), "KILL_SIGNAL": str(int(how))})
            written = [n for n in os.listdir(self.dir) if n.startswith("card")]
            if result.returncode == 0:
                self.assertEqual(read(self.path("card.img")), image, f"call {call}")
                os.remove(self.path("card.img"))
                continue
            self.assertEqual(result.returncode, status, f"call {call}: {result.stderr}")
            self.assertTrue(result.stderr.endswith("cardmill: stopped\n"), result.stderr)
            self.assertNotIn("could not be opened", result.stderr)
            self.assertEqual(written, [], f"call {call}")
        add_run = ["add", self.project, self.sox("extra.wav", "0.05", "noise", rate=22050)]
        for call in (2, 6):
            result = self.run_cardmill(*add_run, env={"LD_PRELOAD": KILL_AT_CALL_LIBRARY, "KILL_AT_CALL": str(call),
                                                      "KILL_SIGNAL": str(int(signal.SIGINT))})
            self.assertEqual(result.returncode, 130, f"call {call}: {result.stderr}")
            self.assertEqual(read(self.project), before)

    def test_ctrl_c_at_a_question_is_cancel(self):
        blob = self.write("blob.bin", bytes(range(256)) * 8)
        before = read(self.project)
        shown, status = self.on_terminal(("add", self.project, blob), lambda run: run.send_signal(signal.SIGINT),
                                         after=b"[o]k / [c]ancel (Enter: ok)?")
        self.assertIn("[o]k / [c]ancel (Enter: ok)?", shown)
        self.assertEqual(status, 130, shown)
        self.assertEqual(read(self.project), before)

    def test_outputs_replace_other_files_but_never_what_the_command_reads(self):
        self.run_cardmill("add", self.project, self.sounds[0], check=0)
        before, sound = read(self.project), read(self.sounds[0])
        refused = self.run_cardmill("image", self.project, "-o", self.project, check=2)
        self.assertIn("is the project", refused.stderr)
        os.symlink(self.sounds[0], self.path("alias.wav"))
        self.run_cardmill("dump", self.project, "-o", self.path("alias.wav"), check=2)
        self.run_cardmill("instrument", "-o", self.sounds[0], self.sounds[1], self.sounds[0], check=2)
        self.assertEqual(read(self.project), before)
        self.assertEqual(read(self.sounds[0]), sound)
        # Any other existing file is replaced, as cp and sox replace theirs, and '-' is stdout.
        old = self.write("old.img", "old")
        self.run_cardmill("image", self.project, "-o", old, check=0)
        image = read(old)
        self.assertEqual(len(image), self.listing(self.project)["totalBytes"])
        self.assertEqual(self.run_cardmill("image", self.project, "-o", "-", text=False, check=0).stdout, image)
        dump = self.run_cardmill("dump", self.project, "-o", "-", text=False, check=0)
        self.assertTrue(dump.stdout.startswith(b"Project Name\t"))
        self.assertEqual([n for n in os.listdir(self.dir) if "cardmill-" in n], [])

    def test_a_project_cut_short_is_reported_and_not_saved_over_without_yes(self):
        self.run_cardmill("add", self.project, *self.sounds[:6], check=0)
        self.run_cardmill("set", self.project, "--group-name", "k1=Kit", check=0)
        whole = read(self.project)
        for length in range(100, len(whole), 100):
            cut = self.write("cut.cmr", whole[:length])
            listed = self.run_cardmill("list", cut, check=0)
            self.assertIn("The project file 'cut.cmr' is damaged", listed.stderr, f"cut at {length}")
            refused = self.run_cardmill("set", cut, "--name", "Over", check=3)
            self.assertIn("Do you wish to save over it anyway?", refused.stderr)
            self.assertEqual(read(cut), whole[:length], f"cut at {length}")
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


@unittest.skipUnless(can_mount(), "mounting a small file system needs root and mount namespaces")
class FullDisk(CardmillTestCase):
    """Outputs on a real full disk: a small file system of its own (tmpfs, in a mount namespace of
    the test's own) that an image does not fit on."""

    def test_an_image_that_does_not_fit_leaves_the_previous_image(self):
        project = self.new_project("big.cmr", "--card-size", "1M")
        self.run_cardmill("add", project, self.sox("long.wav", "4", "sine", "100"), check=0)
        previous = bytes(range(256)) * 400
        self.write("previous.img", previous)
        disk = self.path("disk")
        os.makedirs(disk)
        script = (f'mount -t tmpfs -o size=256k tmpfs "{disk}" && cp "{self.path("previous.img")}" "{disk}/card.img" '
                  f'&& CARDMILL_CONFIG_DIR="{self.config}" "{CARDMILL}" image "{project}" -o "{disk}/card.img" '
                  f'2> "{self.path("stderr")}"; echo $? > "{self.path("status")}"; '
                  f'cp "{disk}/card.img" "{self.path("after.img")}"; ls -A "{disk}" > "{self.path("listing")}"')
        subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-c", script], check=True, timeout=120)
        self.assertEqual(read(self.path("status")), b"1\n")
        self.assertIn(f"Sorry, but the new file '{disk}/card.img' can't be created because the disk is full.",
                      read(self.path("stderr")).decode())
        self.assertEqual(read(self.path("after.img")), previous)
        self.assertEqual(read(self.path("listing")), b"card.img\n")


if __name__ == "__main__":
    unittest.main()
