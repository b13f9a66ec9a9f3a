"""The command-line workflow on real files: sounds written by sox, a MIDI file by mido, a bank
capture built here; projects created, edited, listed, compiled and dumped."""

import json
import os
import shutil
import signal
import struct
import subprocess
import unittest

import mido

from cardmill_e2e import CARDMILL, KILL_AT_CALL_LIBRARY, CardmillTestCase


def pack7(data):
    out, bits, count = bytearray(), 0, 0
    for byte in data:
        bits |= byte << count
        count += 8
        while count >= 7:
            out.append(bits & 0x7F)
            bits >>= 7
            count -= 7
    if count:
        out.append(bits & 0x7F)
    return bytes(out)


def zelta_capture(maker=b"\x00\x00\x0e"):
    """A valid program-bank capture of the synthesizer family."""
    layout = [(0, 128, 408, 350), (52224, 128, 83, 65), (62848, 100, 166, 138), (79448, 1, 31, 0)]
    capture = bytearray(79479)
    for offset, count, size, unpacked in layout:
        for m in range(count):
            at = offset + size * m
            capture[at:at + 7] = b"\xf0" + maker + b"\x0e\x00\x00"
            packed = pack7(bytes((m + i) & 0xFF for i in range(unpacked)))
            capture[at + 7:at + 7 + len(packed)] = packed
            capture[at + size - 1] = 0xF7
    return bytes(capture)


class Workflow(CardmillTestCase):
    def setUp(self):
        super().setUp()
        for name, args in (("kick.wav", ["-b", "16", "-c", "1", "synth", "0.2", "sine", "60"]),
                           ("pad.wav", ["-b", "24", "-c", "2", "synth", "0.5", "sine", "220"]),
                           ("snare.aif", ["-b", "16", "-c", "1", "synth", "0.1", "noise"])):
            self.tool("sox", "-n", "-r", "44100", *args[:4], self.path(name), *args[4:])
        song = mido.MidiFile(type=1, ticks_per_beat=96)
        track = mido.MidiTrack()
        song.tracks.append(track)
        for i in range(8):
            track.append(mido.Message("note_on", note=60 + i, velocity=90, time=0 if i == 0 else 48))
            track.append(mido.Message("note_off", note=60 + i, velocity=0, time=48))
        song.save(self.path("song.mid"))
        with open(self.path("bank.syx"), "wb") as f:
            f.write(zelta_capture())
        self.project = self.path("demo.cmr")
        self.run_cardmill("new", self.project, "--name", "E2E", "--card-size", "1M", check=0)

    def listing(self):
        return json.loads(self.run_cardmill("--json", "list", self.project, check=0).stdout)

    def test_files_reach_their_groups_and_the_image_has_the_computed_size(self):
        self.run_cardmill("add", self.project, self.path("kick.wav"), self.path("snare.aif"), check=0)
        self.run_cardmill("add", self.project, "--group", "d2", self.path("pad.wav"), self.path("song.mid"),
                          self.path("bank.syx"), check=0)
        listing = self.listing()
        self.assertEqual(listing["cardName"], "E2E")
        self.assertEqual(listing["cardSize"], "1 Meg")
        groups = {g["group"]: g for g in listing["groups"]}
        self.assertEqual([f["file"] for f in groups[0]["files"]], ["kick.wav", "snare.aif"])
        self.assertEqual(groups[0]["name"], "noname")
        self.assertEqual([f["file"] for f in groups[9]["files"]], ["pad.wav"])
        self.assertEqual([f["file"] for f in groups[11]["files"]], ["song.mid"])
        self.assertEqual([f["name"] for f in groups[12]["files"]], ["Bank 1"])

        self.run_cardmill("image", self.project, "-o", self.path("a.img"), check=0)
        self.run_cardmill("image", self.project, "-o", self.path("b.img"), check=0)
        with open(self.path("a.img"), "rb") as a, open(self.path("b.img"), "rb") as b:
            image = a.read()
            self.assertEqual(image, b.read())
        self.assertEqual(len(image), listing["totalBytes"])
        self.assertEqual(image[:4], bytes([0xA5, 0xC3, 0x5A, 0xA5]))  # the program bank comes first
        self.assertEqual(image[65536:65540], bytes([0x00, 0x70, 0x38, 0x1C]))
        self.assertEqual(struct.unpack(">I", image[65540:65544])[0], 0x02000000 | len(image) // 2)

        self.run_cardmill("dump", self.project, "-o", self.path("d.xls"), check=0)
        with open(self.path("d.xls"), "rb") as f:
            dump = f.read().decode()
        self.assertTrue(dump.startswith("Project Name\tVersion\tTarget Device\tTotal Bytes\tFree Bytes Remaining\r\n"
                                        f"E2E\t1.00\tZelta Synthesizer\t{len(image)}\t{1048576 - len(image)}\r\n"))
        self.assertIn("\tSequence 00\tType 2\t", dump)

    def test_saved_reopened_and_saved_again_gives_the_same_bytes(self):
        self.run_cardmill("add", self.project, "--split-stereo", self.path("pad.wav"), self.path("kick.wav"),
                          self.path("song.mid"), check=0)
        self.run_cardmill("set", self.project, "--group-name", "k1=Keys", "--out-port", "1=1", check=0)
        with open(self.project, "rb") as f:
            first = f.read()
        self.run_cardmill("set", self.project, check=0)
        with open(self.project, "rb") as f:
            self.assertEqual(f.read(), first)
        listing = self.listing()
        self.assertEqual([f["name"] for f in listing["groups"][0]["files"]], ["pad.wavL", "pad.wavR", "kick.wav"])
        self.assertEqual(listing["groups"][0]["name"], "Keys")
        self.assertFalse(os.path.exists(self.path("demo.bak")))

    def test_edits_refused_as_card_info_refuses(self):
        self.run_cardmill("add", self.project, "--group", "d1", self.path("kick.wav"), check=0)
        result = self.run_cardmill("set", self.project, "--target", "percula", check=1)
        self.assertIn("This project contains a sound or instrument file in a drum group.", result.stderr)
        self.run_cardmill("set", self.project, "--name", "", check=2)
        self.run_cardmill("set", self.project, "--name", "ElevenChars", check=2)
        self.run_cardmill("set", self.project, "--group-name", "k1=Seven77", check=2)
        self.run_cardmill("remove", self.project, "d1", "1", check=0)
        self.run_cardmill("set", self.project, "--target", "percula", check=0)
        self.run_cardmill("add", self.project, "--group", "d1", self.path("kick.wav"), check=1)
        self.assertEqual(self.listing()["target"], 25)

    def test_numbers_are_taken_strictly(self):
        self.run_cardmill("add", self.project, self.path("kick.wav"), self.path("song.mid"), check=0)
        with open(self.project, "rb") as f:
            before = f.read()
        # 4294967297 is item 1 when cut to 32 bits; it, and every number that is not plain
        # digits in range, is a usage error that names what was wrong and changes nothing.
        for index in ("4294967297", "0", "129", "+1", " 1", "1 ", "1x", "0x1", "１"):
            result = self.run_cardmill("remove", self.project, "k1", index, check=2)
            self.assertIn("INDEX takes a number from 1 to 128", result.stderr)
        for flag in ("4294967297=1", "1=2", "1=-0", "+1=1", "51=1", "1=", "=1", "1"):
            result = self.run_cardmill("set", self.project, "--out-port", flag, check=2)
            self.assertIn("--out-port", result.stderr)
        for size in ("010", "+1", "1 ", "-0", "4294967297"):
            self.run_cardmill("set", self.project, "--card-size", size, check=2)
        for retries in ("+3", " 3", "3x", "-0", "1001", "4294967299"):
            result = self.run_cardmill("--retries", retries, "list", self.project, check=2)
            self.assertIn("--retries", result.stderr)
        for value in ("-0", "+1", " 1", "1 ", "01x", "65537"):
            result = self.run_cardmill("prefs", f"AllowPhantoms={value}", check=2)
            self.assertIn("AllowPhantoms", result.stderr)
        with open(self.project, "rb") as f:
            self.assertEqual(f.read(), before)

        # In range but past the files there are: the operation fails (status 1), no usage error.
        self.run_cardmill("remove", self.project, "k1", "2", check=1)
        self.run_cardmill("set", self.project, "--out-port", "2=1", check=1)
        self.run_cardmill("set", self.project, "--card-size", "9", "--out-port", "1=1", check=0)
        self.run_cardmill("--retries", "0", "remove", self.project, "k1", "1", check=0)
        listing = self.listing()
        self.assertEqual(listing["cardSizeToken"], 9)
        self.assertEqual(listing["groups"][0]["files"], [])

    def test_an_oversized_image_is_questioned(self):
        self.tool("sox", "-n", "-r", "44100", "-b", "16", "-c", "1", self.path("long.wav"), "synth", "2", "sine", "99")
        self.run_cardmill("set", self.project, "--card-size", "128K", check=0)
        self.run_cardmill("add", self.project, self.path("long.wav"), check=0)
        result = self.run_cardmill("image", self.project, "-o", self.path("big.img"), check=3)
        self.assertIn("The project size is too large for the memory card specified.", result.stderr)
        self.assertFalse(os.path.exists(self.path("big.img")))
        self.run_cardmill("--yes", "image", self.project, "-o", self.path("big.img"), check=0)

    def test_moved_files_are_found_in_search_folders_and_missing_ones_named(self):
        self.run_cardmill("instrument", "-o", self.path("inst.cmt"), self.path("kick.wav"),
                          self.path("snare.aif"), check=0)
        self.run_cardmill("add", self.project, self.path("inst.cmt"), self.path("pad.wav"), check=0)
        os.makedirs(self.path("moved"))
        for name in ("kick.wav", "pad.wav"):
            shutil.move(self.path(name), self.path("moved/" + name))
        result = self.run_cardmill("list", self.project, check=1)
        self.assertIn("Can't find the sound file 'kick.wav'", result.stderr)
        self.assertIn("Can't find the sound file 'pad.wav'", result.stderr)
        listing = json.loads(self.run_cardmill("--search-dir", self.path("moved"), "--json", "list",
                                               self.project, check=0).stdout)
        self.assertEqual(listing["groups"][0]["files"][1]["path"], self.path("moved/pad.wav"))

    def test_a_save_killed_at_any_point_leaves_the_old_file_or_the_new_one(self):
        names = []
        for i in range(30):
            name = self.path(f"s{i:03d}.wav")
            shutil.copy(self.path("kick.wav"), name)
            names.append(name)
        for group in ("k1", "k2", "k3"):
            self.run_cardmill("add", self.project, "--group", group, *names[:10], check=0)
        env = dict(os.environ, CARDMILL_CONFIG_DIR=self.config, LD_PRELOAD=KILL_AT_CALL_LIBRARY)

        def set_name(name, **extra):
            return subprocess.run([CARDMILL, "set", self.project, "--name", name], env=dict(env, **extra),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60).returncode

        count_file = self.path("calls")
        self.assertEqual(set_name("Counted", KILL_AT_COUNT_FILE=count_file), 0)
        with open(count_file) as f:
            calls = int(f.read())
        self.assertGreater(calls, 30)
        previous = "Counted"
        for call in range(1, calls + 1):
            name = f"N{call}"
            result = set_name(name, KILL_AT_CALL=str(call))
            self.assertEqual(result, -signal.SIGKILL, f"call {call} of {calls}")
            # The project is a whole one, holding every file, named by this run or the one before.
            with open(self.project, "rb") as f:
                now = f.read()
            self.assertEqual(struct.unpack(">I", now[4:8])[0], len(now) - 8, f"call {call}")
            listing = self.listing()
            self.assertEqual(sum(len(g["files"]) for g in listing["groups"]), 30)
            self.assertIn(listing["cardName"], (previous, name), f"call {call}")
            previous = listing["cardName"]
        # The temporary files of the killed saves are gone after one more save.
        self.assertEqual(set_name("Final"), 0)
        self.assertEqual([n for n in os.listdir(self.dir) if ".tmp" in n or n.endswith(".bak")], [])


class Information(CardmillTestCase):
    def test_each_kind_of_file_as_json(self):
        self.tool("sox", "-n", "-r", "22050", "-b", "16", "-c", "1", self.path("tone.wav"), "synth", "1", "sine", "440")
        with open(self.path("bank.syx"), "wb") as f:
            f.write(zelta_capture())
        song = mido.MidiFile(type=0, ticks_per_beat=96)
        track = mido.MidiTrack()
        song.tracks.append(track)
        track.append(mido.MetaMessage("track_name", name="Tune", time=0))
        track.append(mido.Message("note_on", note=60, velocity=64, time=0))
        track.append(mido.Message("note_off", note=60, velocity=0, time=96))
        song.save(self.path("tune.mid"))
        files, result = self.info(self.path("tone.wav"), self.path("bank.syx"), self.path("tune.mid"))
        self.assertEqual(result.returncode, 0, result.stderr)
        tone, bank, tune = files
        self.assertEqual(tone["kind"], "sound file")
        self.assertEqual(tone["info"], ["16-bit Mono", "1 Seconds", "22050 Hz"])
        self.assertEqual(tone["sound"]["frames"], 22050)
        self.assertEqual(tone["sound"]["loopStart"], 22051)
        self.assertEqual(tone["compiledSize"], (22059 + 8) * 2 + 30)
        self.assertEqual(bank["kind"], "SysEx file")
        self.assertEqual(bank["format"], "Zelta SysEx Capture")
        self.assertEqual(bank["bank"], {"family": 14, "source": "ZeltaSynth", "bankBytes": 65512})
        self.assertEqual(tune["kind"], "standard MIDI file")
        self.assertEqual(tune["comment"], "Tune")
        self.assertEqual(tune["sequence"]["convertedSize"], 16)


if __name__ == "__main__":
    unittest.main()
