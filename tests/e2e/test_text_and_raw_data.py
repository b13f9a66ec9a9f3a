"""Text at the boundaries: 8-bit texts of files written elsewhere come out as valid UTF-8 JSON,
names reach the card only in characters the instrument shows; and files no reader recognises
join a project as raw sample data only when the user agrees."""

import json
import os
import struct
import subprocess
import sys
import unittest

import mido

from cardmill_e2e import CARDMILL, CardmillTestCase

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fuzz"))
import seeds  # noqa: E402  (the fuzzers' builders of valid files of every format)


def wav(comment=None, frames=64):
    fmt = struct.pack("<HHIIHH", 1, 1, 44100, 88200, 2, 16)
    chunks = [seeds.chunk(b"fmt ", fmt, True)]
    if comment is not None:
        chunks.append(seeds.chunk(b"LIST", b"INFO" + seeds.chunk(b"ICMT", comment + b"\0", True), True))
    chunks.append(seeds.chunk(b"data", bytes(range(256))[: 2 * frames], True))
    return seeds.form(b"RIFF", b"WAVE", chunks, True)


def stored_record(path):
    """A stored file record of a path given as bytes (seeds.stored_record takes text)."""
    name = path.rsplit(b"/", 1)[-1]
    record = b"MDOS" + struct.pack("<hI", -1, 0) + bytes([len(name)]) + name + bytes(63 - len(name))
    record += bytes(28) + struct.pack("<I", 0) + b"MDOS" + struct.pack("<H", 0)
    return record + bytes([len(path)]) + path + bytes(259 - len(path))


def aiff(comment, marker_name):
    comm = struct.pack(">HIH", 1, 100, 16) + seeds.extended(22050)
    mark = struct.pack(">HHIB", 1, 1, 10, len(marker_name)) + marker_name
    mark += b"" if len(marker_name) % 2 else b"\0"
    comt = struct.pack(">HIHH", 1, 0, 0, len(comment)) + comment
    ssnd = struct.pack(">II", 0, 0) + bytes(200)
    return seeds.form(b"FORM", b"AIFF", [seeds.chunk(b"COMM", comm, False), seeds.chunk(b"MARK", mark, False),
                                         seeds.chunk(b"COMT", comt, False), seeds.chunk(b"SSND", ssnd, False)])


class TextEncodings(CardmillTestCase):
    def write(self, name, data):
        path = os.path.join(os.fsencode(self.dir), name if isinstance(name, bytes) else name.encode())
        with open(path, "wb") as f:
            f.write(data)
        return path

    def strict_json(self, *args):
        env = dict(os.environ, CARDMILL_CONFIG_DIR=self.config)
        result = subprocess.run([CARDMILL, *args], capture_output=True, env=env,
                                stdin=subprocess.DEVNULL, timeout=300)
        return json.loads(result.stdout.decode("utf-8", errors="strict")), result

    def test_texts_of_every_format_become_valid_utf8_in_json(self):
        song = mido.MidiFile(type=1)
        track = mido.MidiTrack([mido.MetaMessage("track_name", name="Spår 1")])  # mido writes Latin-1
        song.tracks.append(track)
        song.save(self.path("spar.mid"))
        cp1252 = self.write("cafe.wav", wav(b"Caf\xe9 \x93live\x94 \x99"))
        garbage = self.write("garbage.wav", wav(b"\xff\xfe\xc3\x28 \x81\x8d"))
        mac = self.write("flugel.aif", aiff(b"Fl\x9fgel", b"d\x8ebut"))
        sd = bytearray(dict(seeds.sd_seeds())["basic.sd"])
        sd[763:768] = b"\x04\x8aa\xa7e"
        sd_path = self.write("mac.sd", bytes(sd))
        # A sample whose file name is Windows-1252 on disk, named by an instrument and a
        # SampleCell file that Mac and Windows programs wrote.
        latin = self.write(b"Fl\xfcgel.wav", wav())
        cmt = seeds.cmt_file(1, 1, [127], [("/p/x.wav", 0)])
        cmt = self.write("latin.cmt", cmt.replace(seeds.stored_record("/p/x.wav"), stored_record(latin)))
        cell = bytearray(seeds.samplecell(False, b"SCin", [(127, [(0, 0, 99, 0, 60)])], ["Fl\xfcgel.wav"],
                                          [(0, 1, 0, 63, 1, 64)]))
        name_at = cell.index(b"Fl\xc3\xbcgel.wav")  # the builder encodes names as UTF-8
        cell[name_at - 1:name_at + 11] = bytes([10]) + b"Fl\x9fgel.wav" + b"\0"
        cell = bytes(cell).replace(b"ANNO\x00\x00\x00\x04seed", b"ANNO\x00\x00\x00\x04\x8e\x8f\x9f\xa7")
        self.write("flugel.ins", cell)
        self.write("Flügel.wav", wav())

        files, result = self.strict_json("--search-dir", self.dir, "info", "--json", self.path("spar.mid"),
                                         cp1252, garbage, mac, sd_path, cmt, self.path("flugel.ins"))
        self.assertEqual(result.returncode, 0, result.stderr)
        comments = [f.get("comment") for f in files]
        self.assertEqual(comments[:3], ["Spår 1", "Café “live” ™", "ÿþÃ( \ufffd\ufffd"])
        self.assertEqual(comments[3], "Flügel")
        self.assertEqual(files[3]["sound"]["markers"][0]["name"], "début")
        self.assertEqual(comments[4], "äaße")
        self.assertEqual(files[5]["instrument"]["samples"][0]["path"], os.path.join(self.dir, "Flügel.wav"))
        self.assertEqual(comments[6], "éèüß")

    def test_names_reach_the_card_in_characters_the_instrument_shows(self):
        sound = self.write("Flügel C3.wav", wav(frames=100))
        files, _ = self.strict_json("info", "--json", os.fsdecode(sound))
        self.assertEqual(files[0]["shortName"], "FlugelC3.w")

        project = self.path("straße.cmr")
        made = self.run_cardmill("new", project, "--name", "Größe", "--version", "1.0é", check=0)
        self.assertIn("The card name 'Größe' appears as 'Grosse'", made.stderr)
        self.run_cardmill("add", project, os.fsdecode(sound), check=0)
        self.run_cardmill("set", project, "--group-name", "k1=Bässe", check=0)
        listing = json.loads(self.run_cardmill("--json", "list", project, check=0).stdout)
        self.assertEqual((listing["cardName"], listing["version"], listing["groups"][0]["name"]),
                         ("Grosse", "1.0e", "Basse"))
        self.run_cardmill("image", project, "-o", self.path("card.img"), check=0)
        with open(self.path("card.img"), "rb") as f:
            card = f.read()
        for name in (b"Grosse    1.0eBasse ", b"FlugelC3.w"):
            self.assertIn(name, card)

        refused = self.run_cardmill("set", project, "--name", "ピアノ", check=1)
        self.assertIn("can't hold 'ピアノ'", refused.stderr)
        self.assertEqual(json.loads(self.run_cardmill("--json", "list", project, check=0).stdout)["cardName"],
                         "Grosse")

    def test_a_dump_with_non_ascii_paths_is_utf8_with_a_byte_order_mark(self):
        sound = self.write("Flügel.wav", wav())
        project = self.path("dump.cmr")
        self.run_cardmill("new", project, check=0)
        self.run_cardmill("add", project, os.fsdecode(sound), check=0)
        self.run_cardmill("dump", project, "-o", self.path("dump.xls"), check=0)
        with open(self.path("dump.xls"), "rb") as f:
            dump = f.read()
        self.assertTrue(dump.startswith(b"\xef\xbb\xbf"))
        self.assertIn("Flügel.wav", dump[3:].decode("utf-8", errors="strict"))


class RawData(CardmillTestCase):
    BLOB = bytes((i * 37 + 11) & 0xFF for i in range(3000))

    def setUp(self):
        super().setUp()
        self.blob = self.path("blob.bin")
        with open(self.blob, "wb") as f:
            f.write(self.BLOB)
        self.project = self.path("raw.cmr")
        self.run_cardmill("new", self.project, check=0)

    def card(self, project, name):
        self.run_cardmill("image", project, "-o", self.path(name), check=0)
        with open(self.path(name), "rb") as f:
            return f.read()

    def test_without_consent_the_project_is_left_byte_identical(self):
        with open(self.project, "rb") as f:
            before = f.read()
        for answer in ([], ["--no"]):
            result = self.run_cardmill(*answer, "add", self.project, self.blob, check=3)
            self.assertIn("Cardmill doesn't understand the file", result.stderr)
            with open(self.project, "rb") as f:
                self.assertEqual(f.read(), before)

    def test_with_yes_the_card_holds_the_bytes_as_the_instrument_command_makes_them(self):
        self.run_cardmill("--yes", "add", self.project, self.blob, check=0)
        listing = json.loads(self.run_cardmill("--json", "list", self.project, check=0).stdout)
        self.assertEqual([f["file"] for f in listing["groups"][0]["files"]], ["blob.bin"])
        added = self.card(self.project, "added.img")

        self.run_cardmill("instrument", "-o", self.path("blob.cmt"), self.blob, check=3)
        self.run_cardmill("--yes", "instrument", "-o", self.path("blob.cmt"), self.blob, check=0)
        other = self.path("inst.cmr")
        self.run_cardmill("new", other, check=0)
        self.run_cardmill("add", other, self.path("blob.cmt"), check=0)
        built = self.card(other, "inst.img")

        # Little-endian 16-bit words in the file, big-endian on the card.
        words = b"".join(self.BLOB[i:i + 2][::-1] for i in range(0, len(self.BLOB), 2))
        self.assertIn(words, added)
        self.assertIn(words, built)


if __name__ == "__main__":
    unittest.main()
