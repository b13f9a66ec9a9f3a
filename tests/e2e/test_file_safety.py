"""Outputs on a real full disk: a small file system of its own (tmpfs, in a mount namespace of the
test's own) that an image does not fit on."""

import os
import shutil
import subprocess
import unittest

from cardmill_e2e import CARDMILL, CardmillTestCase


def can_mount():
    if os.geteuid() != 0 or not shutil.which("unshare"):
        return False
    probe = subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-c",
                            "mount -t tmpfs -o size=64k tmpfs /mnt"], capture_output=True)
    return probe.returncode == 0


@unittest.skipUnless(can_mount(), "mounting a small file system needs root and mount namespaces")
class FullDisk(CardmillTestCase):
    def test_an_image_that_does_not_fit_leaves_the_previous_image(self):
        self.tool("sox", "-n", "-r", "44100", "-b", "16", "-c", "1", self.path("long.wav"),
                  "synth", "4", "sine", "100")
        project = self.path("big.cmr")
        self.run_cardmill("new", project, "--card-size", "1M", check=0)
        self.run_cardmill("add", project, self.path("long.wav"), check=0)
        previous = bytes(range(256)) * 400
        with open(self.path("previous.img"), "wb") as f:
            f.write(previous)
        disk = self.path("disk")
        os.makedirs(disk)
        script = (f'mount -t tmpfs -o size=256k tmpfs "{disk}" && cp "{self.path("previous.img")}" "{disk}/card.img" '
                  f'&& CARDMILL_CONFIG_DIR="{self.config}" "{CARDMILL}" image "{project}" -o "{disk}/card.img" '
                  f'2> "{self.path("stderr")}"; echo $? > "{self.path("status")}"; '
                  f'cp "{disk}/card.img" "{self.path("after.img")}"; ls -A "{disk}" > "{self.path("listing")}"')
        subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-c", script], check=True, timeout=120)
        with open(self.path("status")) as f:
            self.assertEqual(f.read().strip(), "1")
        with open(self.path("stderr")) as f:
            self.assertIn(f"Sorry, but the new file '{disk}/card.img' can't be created because the disk is full.",
                          f.read())
        with open(self.path("after.img"), "rb") as f:
            self.assertEqual(f.read(), previous)
        with open(self.path("listing")) as f:
            self.assertEqual(f.read().split(), ["card.img"])


if __name__ == "__main__":
    unittest.main()
