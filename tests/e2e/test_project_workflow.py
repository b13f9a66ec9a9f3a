"""The command-line workflow on real files: sounds written by sox, a MIDI file by mido, a bank
capture built here; projects created, edited, listed, compiled and dumped; and what reaches the
card when sounds share data (split stereo halves, same-named files of two kits)."""

import os
import shutil
import signal
import struct
import unittest

from cardmill_e2e import KILL_AT_CALL_LIBRARY, CardmillTestCase, card_words, read, write_song
from library_files import bank_capture, wav


def data_chunk(path):
    wav = read(path)
    at = wav.index(b"data")
    return wav[at + 8:at + 8 + struct.unpack("<I", wav[at + 4:at + 8])[0]]


class Workflow(CardmillTestCase):
    def setUp(self):
        super().setUp()
        self.kick = self.sox("kick.wav", "0.2", "sine", "60")
        self.pad = self.sox("pad.wav", "0.5", "sine", "220", bits=24, channels=2)
        self.snare = self.sox("snare.aif", "0.1", "noise")
        self.song = self.path("song.mid")
        write_song(self.song, 8, kind=1)
        self.bank = self.write("bank.syx", bank_capture())
        self.project = self.new_project("demo.cmr", "--name", "E2E", "--card-size", "1M")

    def test_files_reach_their_groups_and_the_image_has_the_computed_size(self):
        self.run_cardmill("add", self.project, self.kick, self.snare, check=0)
        self.run_cardmill("add", self.project, "--group", "d2", self.pad, self.song, self.bank, check=0)
        listing = self.listing(self.project)
        self.assertEqual((listing["cardName"], listing["cardSize"]), ("E2E", "1 Meg"))
        groups = {g["group"]: g for g in listing["groups"]}
        self.assertEqual(groups[0]["name"], "noname")
        # Sequences and banks go to their own groups whatever --group says.
        self.assertEqual([[f["file"] for f in groups[g]["files"]] for g in (0, 9, 11)],
                         [["kick.wav", "snare.aif"], ["pad.wav"], ["song.mid"]])
        self.assertEqual([f["name"] for f in groups[12]["files"]], ["Bank 1"])

        self.run_cardmill("image", self.project, "-o", self.path("a.img"), check=0)
        self.run_cardmill("image", self.project, "-o", self.path("b.img"), check=0)
        image = read(self.path("a.img"))
        self.assertEqual(image, read(self.path("b.img")))
        self.assertEqual(len(image), listing["totalBytes"])
        self.assertEqual(image[:4], bytes([0xA5, 0xC3, 0x5A, 0xA5]))  # the program bank comes first
        self.assertEqual(image[65536:65540], bytes([0x00, 0x70, 0x38, 0x1C]))
        self.assertEqual(struct.unpack(">I", image[65540:65544])[0], 0x02000000 | len(image) // 2)

        self.run_cardmill("dump", self.project, "-o", self.path("d.xls"), check=0)
        dump = read(self.path("d.xls")).decode()
        self.assertTrue(dump.startswith("Project Name\tVersion\tTarget Device\tTotal Bytes\tFree Bytes Remaining\r\n"
                                        f"E2E\t1.00\tZelta Synthesizer\t{len(image)}\t{1048576 - len(image)}\r\n"))
        self.assertIn("\tSequence 00\tType 2\t", dump)

    def test_saved_reopened_and_saved_again_gives_the_same_bytes(self):
        self.run_cardmill("add", self.project, "--split-stereo", self.pad, self.kick, self.song, check=0)
        self.run_cardmill("set", self.project, "--group-name", "k1=Keys", "--out-port", "1=1", check=0)
        first = read(self.project)
        self.run_cardmill("set", self.project, check=0)
        self.assertEqual(read(self.project), first)
        keys = self.listing(self.project)["groups"][0]
        self.assertEqual([f["name"] for f in keys["files"]], ["pad.wavL", "pad.wavR", "kick.wav"])
        self.assertEqual(keys["name"], "Keys")
        self.assertFalse(os.path.exists(self.path("demo.bak")))

    def test_an_edited_sound_keeps_its_whole_fine_tune_in_the_project_and_on_the_card(self):
        # 25 cents above the root in the sampler chunk.
        tuned = self.write("tuned.wav", wav([(i * 37) % 2000 - 1000 for i in range(2000)], 44100, cents=25))
        project = self.new_project("tuned.cmr")
        self.run_cardmill("add", project, tuned, check=0)
        first = self.run_cardmill("image", project, "-o", "-", text=False, check=0).stdout
        self.run_cardmill("sample", project, "k1", "1", "--volume", "200", check=0)
        (item,) = [f for g in self.listing(project)["groups"] for f in g["files"]]
        self.assertEqual(item["samples"][0]["fineTune"], 25 * 256)
        second = self.run_cardmill("image", project, "-o", "-", text=False, check=0).stdout
        # Only the volume byte differs: the pitch word still holds the 25 cents.
        differing = [i for i in range(len(first)) if first[i] != second[i]]
        self.assertEqual((len(first), len(differing)), (len(second), 1))
        self.assertEqual((first[differing[0]], second[differing[0]]), (252, 200))

    def test_edits_refused_as_card_info_refuses(self):
        self.run_cardmill("add", self.project, "--group", "d1", self.kick, check=0)
        result = self.run_cardmill("set", self.project, "--target", "percula", check=1)
        self.assertIn("This project contains a sound or instrument file in a drum group.", result.stderr)
        for edit in (("--name", ""), ("--name", "ElevenChars"), ("--group-name", "k1=Seven77")):
            self.run_cardmill("set", self.project, *edit, check=2)
        self.run_cardmill("remove", self.project, "d1", "1", check=0)
        self.run_cardmill("set", self.project, "--group-name", "d1=Drums", check=0)
        self.run_cardmill("set", self.project, "--target", "percula", check=0)
        # A Percula card has no drum groups: the message names the groups it has.
        for group, told in (("d1", "a Percula card has no drum groups (d1-d3)"),
                            ("drums", "'drums' is d1, and a Percula card has no drum groups")):
            refused = self.run_cardmill("add", self.project, "--group", group, self.kick, check=1)
            self.assertIn(told + "; use a keyboard group, k1 to k8", refused.stderr)
        self.run_cardmill("set", self.project, "--group-name", "d2=Toms", check=1)
        self.assertEqual(self.listing(self.project)["target"], 25)

    def test_numbers_are_taken_strictly(self):
        self.run_cardmill("add", self.project, self.kick, self.song, check=0)
        before = read(self.project)
        # 4294967297 is item 1 when cut to 32 bits; it, and every number that is not plain
        # digits in range, is a usage error that names what was wrong and changes nothing.
        for args, values, named in (
                (("remove", self.project, "k1"), ("4294967297", "0", "129", "+1", " 1", "1 ", "1x", "0x1", "１"),
                 "INDEX takes a number from 1 to 128"),
                (("set", self.project, "--out-port"), ("4294967297=1", "1=2", "1=-0", "+1=1", "51=1", "1=", "=1", "1"),
                 "--out-port"),
                (("set", self.project, "--card-size"), ("010", "+1", "1 ", "-0", "4294967297"), "card sizes are"),
                (("list", self.project, "--retries"), ("+3", " 3", "3x", "-0", "1001", "4294967299"), "--retries")):
            for value in values:
                with self.subTest(args[0], value=value):
                    self.assertIn(named, self.run_cardmill(*args, value, check=2).stderr)
        self.assertEqual(read(self.project), before)

        # In range but past the files there are: the operation fails (status 1), no usage error.
        self.run_cardmill("remove", self.project, "k1", "2", check=1)
        self.run_cardmill("set", self.project, "--out-port", "2=1", check=1)
        self.run_cardmill("set", self.project, "--card-size", "9", "--out-port", "1=1", check=0)
        self.run_cardmill("--retries", "0", "remove", self.project, "k1", "1", check=0)
        listing = self.listing(self.project)
        self.assertEqual(listing["cardSizeToken"], 9)
        self.assertEqual(listing["groups"][0]["files"], [])

    def test_moved_files_are_found_in_search_folders_and_missing_ones_named(self):
        self.run_cardmill("instrument", "-o", self.path("inst.cmt"), self.kick, self.snare, check=0)
        self.run_cardmill("add", self.project, self.path("inst.cmt"), self.pad, check=0)
        os.makedirs(self.path("moved"))
        for name in ("kick.wav", "pad.wav"):
            shutil.move(self.path(name), self.path("moved/" + name))
        result = self.run_cardmill("list", self.project, check=1)
        self.assertIn("Can't find the sound file 'kick.wav'", result.stderr)
        self.assertIn("Can't find the sound file 'pad.wav'", result.stderr)
        listing = self.listing(self.project, "--search-dir", self.path("moved"))
        self.assertEqual(listing["groups"][0]["files"][1]["path"], self.path("moved/pad.wav"))

    def test_a_save_killed_at_any_point_leaves_the_old_file_or_the_new_one(self):
        names = []
        for i in range(30):
            names.append(self.path(f"s{i:03d}.wav"))
            shutil.copy(self.kick, names[-1])
        for group in ("k1", "k2", "k3"):
            self.run_cardmill("add", self.project, "--group", group, *names[:10], check=0)

        def set_name(name, **extra):
            return self.run_cardmill("set", self.project, "--name", name,
                                     env=dict(extra, LD_PRELOAD=KILL_AT_CALL_LIBRARY)).returncode

        self.assertEqual(set_name("Counted", KILL_AT_COUNT_FILE=self.path("calls")), 0)
        calls = int(read(self.path("calls")))
        self.assertGreater(calls, 30)
        previous = "Counted"
        for call in range(1, calls + 1):
            name = f"N{call}"
            self.assertEqual(set_name(name, KILL_AT_CALL=str(call)), -signal.SIGKILL, f"call {call} of {calls}")
            # The project is a whole one, holding every file, named by this run or the one before.
            now = read(self.project)
            self.assertEqual(struct.unpack(">I", now[4:8])[0], len(now) - 8, f"call {call}")
            listing = self.listing(self.project)
            self.assertEqual(sum(len(g["files"]) for g in listing["groups"]), 30)
            self.assertIn(listing["cardName"], (previous, name), f"call {call}")
            previous = listing["cardName"]
        # The temporary files of the killed saves are gone after one more save.
        self.assertEqual(set_name("Final"), 0)
        self.assertEqual([n for n in os.listdir(self.dir) if ".tmp" in n or n.endswith(".bak")], [])

    def test_each_kind_of_file_as_json(self):
        write_song(self.path("tune.mid"), 1, name="Tune")
        files, result = self.info(self.sox("tone.wav", "1", "sine", "440", rate=22050), self.bank,
                                  self.path("tune.mid"))
        self.assertEqual(result.returncode, 0, result.stderr)
        tone, bank, tune = files
        self.assertEqual((tone["kind"], tone["info"]), ("sound file", ["16-bit Mono", "1.0 Seconds", "22050 Hz"]))
        self.assertEqual((tone["sound"]["frames"], tone["sound"]["loopStart"]), (22050, 22051))
        self.assertEqual(tone["compiledSize"], (22059 + 8) * 2 + 30)
        self.assertEqual((bank["kind"], bank["format"]), ("SysEx file", "Zelta SysEx Capture"))
        self.assertEqual(bank["bank"], {"family": 14, "source": "ZeltaSynth", "bankBytes": 65512})
        self.assertEqual((tune["kind"], tune["comment"]), ("standard MIDI file", "Tune"))
        self.assertEqual(tune["sequence"]["convertedSize"], 16)


    # What reaches the card when sounds share data.
    def image(self):
        return self.run_cardmill("image", self.project, "-o", "-", text=False, check=0).stdout

    def test_the_halves_of_a_split_stereo_file_hold_the_left_and_the_right_channel(self):
        stereo = self.sox("stereo.wav", "0.05", "sine", "100", "sine", "1300", channels=2)
        self.run_cardmill("add", self.project, "--split-stereo", stereo, check=0)
        frames = data_chunk(stereo)
        card = self.image()
        for channel in (0, 2):
            self.assertIn(card_words(b"".join(frames[i + channel:i + channel + 2] for i in range(0, len(frames), 4))),
                          card)
        files = self.listing(self.project)["groups"][0]["files"]
        self.assertEqual([f["name"] for f in files], ["stereo.waL", "stereo.waR"])

    def test_same_named_files_share_only_when_their_bytes_are_the_same(self):
        for kit, frequency in (("rock", "60"), ("jazz", "90")):
            os.makedirs(self.path(kit))
            self.sox(f"{kit}/kick.wav", "0.1", "sine", frequency)
        os.makedirs(self.path("copy"))
        shutil.copy(self.path("rock/kick.wav"), self.path("copy/kick.wav"))
        self.run_cardmill("add", self.project, *(self.path(f"{kit}/kick.wav") for kit in ("rock", "jazz", "copy")),
                          check=0)
        rock, jazz, copy = [f["size"] for g in self.listing(self.project)["groups"] for f in g["files"]]
        self.assertEqual(rock, jazz)  # both carry their own data
        self.assertEqual(copy, 30)  # a phantom: only its voice header
        card = self.image()
        self.assertIn(card_words(data_chunk(self.path("rock/kick.wav"))), card)
        self.assertIn(card_words(data_chunk(self.path("jazz/kick.wav"))), card)


if __name__ == "__main__":
    unittest.main()
