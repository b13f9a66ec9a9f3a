"""The command line under a careless hand: outputs and ports that are not what they seem, names
that select the wrong group, the wrong instrument or a shared link, and the messages that must
give the true cause and the next step."""

import os
import stat
import threading
import time
import unittest

from cardmill_e2e import CardmillTestCase, SimProcess, erase_message, read, received, write_song


class Careless(CardmillTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.new_project("live.cmr")
        self.kick = self.sox("kick.wav", "0.3", "sine", "60")
        self.run_cardmill("add", self.project, self.kick, check=0)

    def test_special_files_and_files_of_another_kind_as_outputs(self):
        image = self.path("live.img")
        self.run_cardmill("image", self.project, "-o", image, check=0)
        # A named pipe is written in place, never renamed over.
        fifo = self.path("pipe")
        os.mkfifo(fifo)
        got = []
        reader = threading.Thread(target=lambda: got.append(read(fifo)))
        reader.start()
        self.run_cardmill("image", self.project, "-o", fifo, check=0)
        reader.join(30)
        self.assertTrue(stat.S_ISFIFO(os.stat(fifo).st_mode))
        self.assertEqual(got, [read(image)])
        # A recognised file of another kind is replaced only when --yes confirms it.
        instrument = self.path("kick.cmt")
        self.run_cardmill("instrument", "-o", instrument, self.kick, check=0)
        before = read(self.project)
        refused = self.run_cardmill("instrument", "--sfz", self.project, instrument, check=3)
        self.assertIn("is a project file (Cardmill project). Replace it with an SFZ instrument?", refused.stderr)
        self.assertEqual(read(self.project), before)
        self.run_cardmill("--yes", "instrument", "--sfz", self.path("other.cmr"), instrument, check=0)
        warned = self.run_cardmill("instrument", "-o", self.path("x.txt"), self.kick, check=0)
        self.assertIn("'" + self.path("x.txt") + "' will hold a Cardmill instrument, whose files end in .cmt",
                      warned.stderr)

    def test_a_port_that_is_a_file_or_folder_is_refused_before_anything_is_written(self):
        before, sound = read(self.project), read(self.kick)
        for args, what in ((("test-midi", "--port", self.kick), "file"),
                           (("send", self.project, "--port", self.project), "file"),
                           (("erase", "--out", self.dir), "folder")):
            result = self.run_cardmill(*args, check=2)
            self.assertIn(f"is not a MIDI port but a {what}", result.stderr)
        self.assertEqual((read(self.project), read(self.kick)), (before, sound))

    def test_a_group_name_selects_one_group_and_remove_says_what_it_removed(self):
        self.run_cardmill("set", self.project, "--group-name", "d1=Drums", check=0)
        for assignment, message in (("k1=drums", "Drum Group 1 (d1) is named 'Drums' already"),
                                    ("k2=d1", "'d1' names a group already")):
            self.assertIn(message, self.run_cardmill("set", self.project, "--group-name", assignment, check=2).stderr)
        # The name a group has already is no conflict, though other groups share it ("empty").
        self.run_cardmill("set", self.project, "--group-name", "k8=empty", "--group-name", "d1=Drums", check=0)
        self.assertEqual([self.listing(self.project)["groups"][g]["name"] for g in (7, 8)], ["empty", "Drums"])
        self.run_cardmill("add", self.project, "--group", "d1", self.kick, check=0)
        # A file that isn't there is named with the group as the user typed it.
        for command, group, index, told in (("remove", "k7", "1", "group k7 has no file 1: it is empty"),
                                            ("remove", "Drums", "2", "group 'Drums' (d1) has no file 2: it holds 1 file"),
                                            ("sample", "K1", "3", "group k1 has no file 3: it holds 1 file")):
            result = self.run_cardmill(command, self.project, group, index, *(["--volume", "1"] * (command == "sample")),
                                       check=1)
            self.assertIn(told, result.stderr)
        removed = self.run_cardmill("remove", self.project, "Drums", "1", check=0)
        self.assertIn("Removed 'kick.wav', file 1 of d1 (Drums).", removed.stderr)
        self.assertEqual([len(g["files"]) for g in self.listing(self.project)["groups"][:9]], [1] + [0] * 8)

    def test_more_replies_than_messages_is_a_shared_link_and_no_ready_card(self):
        song = self.path("song.mid")
        write_song(song, 400)
        self.run_cardmill("add", self.project, song, check=0)
        sim = SimProcess(self, "--write-ms", "100")
        # A second program on the same port, past the advisory lock (open before, as it would be).
        other = open(sim.port, "wb", buffering=0)
        self.addCleanup(other.close)
        run = self.popen("send", self.project, "--port", sim.port, stderr=-1, text=True)
        self.addCleanup(run.stderr.close)
        while "block" not in " ".join(received(sim.log)):
            time.sleep(0.05)
        other.write(erase_message(20))  # a far sector
        self.assertEqual(run.wait(60), 1)
        stderr = run.stderr.read()
        self.assertIn("answered more messages than were sent to it", stderr)
        self.assertNotIn("The card is ready.", stderr)
        sim.stop()
        # Nothing of that run is known to be on the card: a resume writes it all again.
        again = SimProcess(self, card="card.bin", log="again.log")
        self.run_cardmill("send", "--resume", self.project, "--port", again.port, check=0)
        self.assertIn("block 0 0", received(again.log))

    def test_messages_give_the_cause_and_the_next_step(self):
        erase = ("erase", "--yes", "--port")
        self.run_cardmill("set", self.project, "--card-size", "1M", check=0)
        self.run_cardmill("add", self.project, self.sox("long.wav", "3", "sine", "200"), check=0)
        self.run_cardmill("image", self.project, "-o", self.path("live.img"), check=0)
        self.run_cardmill("instrument", "-o", self.path("live.cmt"), self.path("long.wav"), check=0)
        for args, status, expected, unexpected in (
                (erase + ("sim",), 0, "The first 256 K of the card are erased (the default card size). "
                 "A bigger card keeps its data past that: erase it with --card-size", None),
                (erase + ("sim --card-size 128K", "--card-size", "1M"), 0,
                 "The card is erased: all of it, since it ends before the 1 Meg asked for.", None),
                (erase + ("sim --no-erase-command",), 0, "the start of its card was written over (two blocks)", None),
                (("--yes", "send", self.project, "--port", "sim --card-size 128K"), 1,
                 "because the card holds 131072 bytes; this image needs", "--resume"),
                (("--yes", "send-image", self.path("live.img"), "--port", "sim --card-size 128K"), 1,
                 "The image file can't be completely sent because the card holds 131072 bytes", "compile"),
                (("--yes", "--no", "list", self.project), 2, "--yes and --no can't be given together", None),
                (("voice", self.project, "k1", "1", "--keys", "100"), 2, "the last 127", None),
                (("test-midi", "--port", "sim --family percula"), 0, "Orvane Device: Percula v", None),
                (("prefs", "DefaultCardSizeToken=4M", "AllowPhantoms=2"), 2, "takes 0 (off) or 1 (on), not '2'", None),
                (("instrument", "--sfz", self.path("export/pad.sfz"), "--copy-samples", self.path("live.img")), 1,
                 "there is no folder", None),
                (("instrument", "-o", self.path("k.cmt"), self.project), 1,
                 "is a project file", "raw"),
                (("instrument", "-o", self.path("k.cmt"), self.path("live.cmt")), 1,
                 "is an instrument file (Cardmill (TM)), not a sound file.", "raw")):
            with self.subTest(args=args):
                result = self.run_cardmill(*args, check=status)
                self.assertIn(expected, result.stdout + result.stderr)
                if unexpected:
                    self.assertNotIn(unexpected, result.stderr)
        self.assertEqual(self.run_cardmill("prefs", "DefaultCardSizeToken", check=0).stdout, "1\n")

    def test_rough_edges_of_progress_listings_and_names(self):
        song = self.path("song.mid")
        write_song(song, 40)
        odd = self.sox("two\nlines.wav", "0.1", "sine", "300")
        latin1 = os.fsdecode(b"\xe9t\xe9.wav")
        os.rename(self.sox("ete.wav", "0.1", "sine", "500"), self.path(latin1))
        # Information goes with -q (a warning stays), and progress needs a terminal or --progress.
        told = self.run_cardmill("-q", "add", self.project, song, odd, self.path(latin1), check=0).stderr
        self.assertTrue(told.startswith("'two\nlines.wav' shows on the instrument as 'two_lines.'"), told)
        self.assertEqual(told.count("\n"), 2)
        image = ("image", self.project, "-o", self.path("a.img"))
        self.assertEqual(self.run_cardmill(*image, check=0).stderr, "The image file is ready.\n")
        progress = self.run_cardmill("--progress", *image, check=0).stderr
        self.assertIn("Converting Sequence File:", progress)
        self.assertNotRegex(progress, "Pre-sizing|Converting\\.\\.\\.|sCurrentSeqTick")
        # A project over its card is warned about on change and listed as an overflow.
        self.run_cardmill("add", self.project, self.sox("long.wav", "4", "sine", "100"), check=0)
        self.assertIn("no longer fits its 256 K card",
                      self.run_cardmill("set", self.project, "--name", "Later", check=0).stderr)
        listing = self.run_cardmill("list", self.project, check=0).stdout
        self.assertRegex(listing, r"Over the card by: +\d+ bytes \(the card holds 262144\)")
        self.assertIn("two\\nlines.wav", listing)
        self.assertEqual(len([line for line in listing.splitlines() if "lines.wav" in line]), 1)
        # A name that is not UTF-8 leads back to its file in JSON; messages stay UTF-8.
        paths = [f for g in self.listing(self.project)["groups"] for f in g["files"] if "pathBytes" in f]
        self.assertEqual([bytes.fromhex(f["pathBytes"]) for f in paths], [os.fsencode(self.path(latin1))])
        removed = self.run_cardmill("remove", self.project, "k1", "3", check=0, text=False).stderr
        self.assertIn("Removed 'été.wav'", removed.decode("utf-8"))
        # Figures as a person reads them.
        rate = self.sox("fast.wav", "0.01", "sine", "1000", rate=1000000)
        self.assertIn("Rate:            1000000 Hz", self.run_cardmill("info", rate, check=0).stdout)
        self.assertIn("0.3 Seconds", self.run_cardmill("info", self.kick, check=0).stdout)


if __name__ == "__main__":
    unittest.main()
