"""Projects through what people do to folders: copied with `cp -r`, moved with `mv`, their sounds
touched or changed, another kit's file of the same name lying in a folder the project knows, the
project made read-only; run as a normal user, as musicians run it."""

import os
import pwd
import shutil
import subprocess
import time
import unittest

from cardmill_e2e import CARDMILL, CardmillTestCase, read


class ProjectsSurvive(CardmillTestCase):
    def setUp(self):
        super().setUp()
        self.song = self.path("song")
        os.makedirs(os.path.join(self.song, "samples"))
        self.project = os.path.join(self.song, "live.cmr")
        self.run_cardmill("new", self.project, check=0)
        for name, hz in (("kick.wav", "60"), ("bass.wav", "110")):
            self.sox(os.path.join("song", "samples", name), "0.2", "sine", hz)
        self.run_cardmill("add", self.project, *self.sounds("song"), check=0)
        self.run_cardmill("instrument", "-o", os.path.join(self.song, "keys.cmt"), *self.sounds("song"), check=0)
        self.run_cardmill("add", self.project, "--group", "k2", os.path.join(self.song, "keys.cmt"), check=0)
        # Settings edited as people edit them: a root, a volume, a start; the instrument's keys.
        self.run_cardmill("sample", self.project, "k1", "1", "--root", "48", "--volume", "200", "--start", "10",
                          check=0)
        self.run_cardmill("voice", self.project, "k2", "1", "--keys", "50,127", check=0)

    def sounds(self, folder):
        return [os.path.join(self.path(folder), "samples", name) for name in ("kick.wav", "bass.wav")]

    def settings(self, project, *options):
        """What the project holds, where its files lie aside."""
        listing = self.listing(project, *options)
        return [(f["file"], f.get("upperKeys"),
                 [(s["rootKey"], s["volume"], s["startFrame"], s["fineTune"]) for s in f["samples"]])
                for g in listing["groups"] for f in g["files"]]

    def test_a_copied_or_moved_project_with_touched_sounds_keeps_every_setting_without_a_question(self):
        kept = self.settings(self.project)
        self.assertEqual(kept[0][2], [(48, 200, 10, 0)])
        self.assertEqual(kept[2][1], [50, 127])
        time.sleep(1.1)  # the next second: a touch makes the files newer than the settings
        shutil.copytree(self.song, self.path("copy"))
        os.rename(self.song, self.path("moved"))
        for folder in ("copy", "moved"):
            for sound in self.sounds(folder) + [os.path.join(self.path(folder), "keys.cmt")]:
                os.utime(sound)
            project = os.path.join(self.path(folder), "live.cmr")
            result = self.run_cardmill("list", "--json", project, check=0)
            self.assertEqual(result.stderr, "", folder)
            self.assertEqual(self.settings(project), kept, folder)
            # Saved, the project names the files where they are now.
            self.run_cardmill("set", project, "--name", folder.capitalize(), check=0)
            paths = [f["path"] for g in self.listing(project)["groups"] for f in g["files"]]
            self.assertTrue(all(p.startswith(self.path(folder) + "/") for p in paths), paths)

    def test_a_sound_whose_bytes_changed_keeps_its_own_settings_and_the_user_is_told_which(self):
        self.sox(os.path.join("song", "samples", "kick.wav"), "0.3", "sine", "70")
        result = self.run_cardmill("list", self.project, check=0)
        self.assertIn("'kick.wav' has changed since its settings were edited; its own are used, and these "
                      "set aside: root key 48, volume 200, start 10", result.stderr)
        self.assertEqual(self.settings(self.project)[0][2], [(60, 252, 0, 0)])

    def test_another_kits_file_of_the_same_name_is_never_taken_for_the_projects(self):
        # A project of other/hat.wav, then samples/kick.wav; the kick goes, and another kit's
        # kick.wav lies in other/, a folder the project's files come from.
        hat = self.sox("hat.wav", "0.1", "noise")
        os.makedirs(self.path("other"))
        hat = shutil.move(hat, self.path("other"))
        project = self.new_project("two.cmr")
        kick = os.path.join(self.song, "samples", "kick.wav")
        self.run_cardmill("add", project, hat, kick, check=0)
        os.rename(kick, self.path("the-kick.wav"))
        self.sox(os.path.join("other", "kick.wav"), "0.2", "sine", "1000")
        result = self.run_cardmill("list", project, check=1)
        self.assertIn("Can't find the sound file 'kick.wav'", result.stderr)
        # The project's own kick there is taken, and named.
        os.rename(self.path("the-kick.wav"), os.path.join(self.path("other"), "kick.wav"))
        result = self.run_cardmill("list", project, check=0)
        self.assertIn("'kick.wav' was not in %s/samples/; the same file was found in %s/" % (self.song, self.path("other")),
                      result.stderr)

    def as_a_user(self):
        """The environment a normal user's run takes: `nobody` when the tests run as root."""
        if os.geteuid() != 0:
            return []
        if not shutil.which("setpriv"):
            self.skipTest("needs setpriv to run as a normal user")
        nobody = pwd.getpwnam("nobody")
        os.chmod(self.dir, 0o755)
        for folder, _, files in os.walk(self.dir):
            for name in [folder] + [os.path.join(folder, f) for f in files]:
                os.chown(name, nobody.pw_uid, nobody.pw_gid)
        return ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]

    def run_as_user(self, prefix, *args):
        return subprocess.run(prefix + [CARDMILL, *args], capture_output=True, text=True, env=self.env,
                              stdin=subprocess.DEVNULL, timeout=60)

    def test_a_read_only_project_is_replaced_only_when_the_user_says_so(self):
        user = self.as_a_user()
        os.chmod(self.project, 0o444)
        before = read(self.project)
        refused = self.run_as_user(user, "set", self.project, "--name", "Changed")
        self.assertEqual(refused.returncode, 3, refused.stderr)
        self.assertIn("is read-only.  Replace it all the same?", refused.stderr)
        self.assertEqual(read(self.project), before)
        accepted = self.run_as_user(user, "--yes", "set", self.project, "--name", "Changed")
        self.assertEqual(accepted.returncode, 0, accepted.stderr)
        self.assertNotEqual(read(self.project), before)
        self.assertEqual(os.stat(self.project).st_mode & 0o777, 0o444)
        # A folder the user can't write says why.
        os.chmod(self.project, 0o644)
        os.chmod(self.song, 0o555)
        self.addCleanup(os.chmod, self.song, 0o755)
        result = self.run_as_user(user, "set", self.project, "--name", "Again")
        if not user and os.access(self.song, os.W_OK):
            return  # nobody can be kept from writing here
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("could not be written in its folder: Permission denied", result.stderr)


if __name__ == "__main__":
    unittest.main()
