"""Text at the boundaries: 8-bit texts of files written elsewhere come out as valid UTF-8 JSON,
names reach the card only in characters the instrument shows; and files no reader recognises
join a project as raw sample data only when the user agrees."""

import json
import os
import struct
import sys
import unittest

from cardmill_e2e import CardmillTestCase, card_words, read, write_song

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fuzz"))
import seeds  # noqa: E402  (the fuzzers' builders of valid files of every format)


def wav(comment=None, frames=64):
    fmt = struct.pack("<HHIIHH", 1, 1, 44100, 88200, 2, 16)
    chunks = [seeds.chunk(b"fmt ", fmt, True)]
    if comment is not None:
        chunks.append(seeds.chunk(b"LIST", b"INFO" + seeds.chunk(b"ICMT", comment + b"\0", True), True))
    chunks.append(seeds.chunk(b"data", bytes(range(256))[: 2 * frames], True))
    return seeds.form(b"RIFF", b"WAVE", chunks, True)


def aiff(comment, marker_name):
    comm = struct.pack(">HIH", 1, 100, 16) + seeds.extended(22050)
    mark = struct.pack(">HHIB", 1, 1, 10, len(marker_name)) + marker_name
    mark += b"" if len(marker_name) % 2 else b"\0"
    comt = struct.pack(">HIHH", 1, 0, 0, len(comment)) + comment
    ssnd = struct.pack(">II", 0, 0) + bytes(200)
    return seeds.form(b"FORM", b"AIFF", [seeds.chunk(b"COMM", comm, False), seeds.chunk(b"MARK", mark, False),
                                         seeds.chunk(b"COMT", comt, False), seeds.chunk(b"SSND", ssnd, False)])


class TextEncodings(CardmillTestCase):
    def strict_json(self, *args):
        result = self.run_cardmill(*args, text=False)
        return json.loads(result.stdout.decode("utf-8", errors="strict")), result

    def test_texts_of_every_format_become_valid_utf8_in_json(self):
        write_song(self.path("spar.mid"), 0, kind=1, name="Spår 1")  # mido writes Latin-1
        cp1252 = self.write("cafe.wav", wav(b"Caf\xe9 \x93live\x94 \x99"))
        garbage = self.write("garbage.wav", wav(b"\xff\xfe\xc3\x28 \x81\x8d"))
        mac = self.write("flugel.aif", aiff(b"Fl\x9fgel", b"d\x8ebut"))
        sd = bytearray(dict(seeds.sd_seeds())["basic.sd"])
        sd[763:768] = b"\x04\x8aa\xa7e"
        sd_path = self.write("mac.sd", bytes(sd))
        # A sample whose file name is Windows-1252 on disk, named by an instrument and a
        # SampleCell file that Mac and Windows programs wrote.
        self.write(b"Fl\xfcgel.wav", wav())
        # The builder writes names as UTF-8: an ASCII stand-in of the same length, then the byte.
        cmt = seeds.cmt_file(1, 1, [127], [(self.path("Flxgel.wav"), 0)]).replace(b"Flxgel", b"Fl\xfcgel")
        cmt = self.write("latin.cmt", cmt)
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
        files, _ = self.strict_json("info", "--json", sound)
        self.assertEqual(files[0]["shortName"], "FlugelC3.w")

        project = self.path("straße.cmr")
        made = self.run_cardmill("new", project, "--name", "Größe", "--version", "1.0é", check=0)
        self.assertIn("The card name 'Größe' appears as 'Grosse'", made.stderr)
        self.run_cardmill("add", project, sound, check=0)
        self.run_cardmill("set", project, "--group-name", "k1=Bässe", check=0)
        listing = self.listing(project)
        self.assertEqual((listing["cardName"], listing["version"], listing["groups"][0]["name"]),
                         ("Grosse", "1.0e", "Basse"))
        self.run_cardmill("image", project, "-o", self.path("card.img"), check=0)
        card = read(self.path("card.img"))
        for name in (b"Grosse    1.0eBasse ", b"FlugelC3.w"):
            self.assertIn(name, card)

        # Beyond ASCII, so the dump is UTF-8 with a byte order mark for the spreadsheets.
        dump = self.run_cardmill("dump", project, "-o", "-", text=False, check=0).stdout
        self.assertTrue(dump.startswith(b"\xef\xbb\xbf"))
        self.assertIn("Flügel C3.wav", dump[3:].decode("utf-8", errors="strict"))

        refused = self.run_cardmill("set", project, "--name", "ピアノ", check=1)
        self.assertIn("can't hold 'ピアノ'", refused.stderr)
        self.assertEqual(self.listing(project)["cardName"], "Grosse")

        # A file name the instrument can't show is added, and the name it shows is told (-q
        # keeps warnings); lost accents, which leave the name readable, are not.
        told = self.run_cardmill("-q", "add", project, self.write("日本.wav", wav(frames=90)), sound, check=0).stderr
        self.assertEqual(told, "'日本.wav' shows on the instrument as '__.wav': the instrument shows only letters, "
                               "digits, blanks and punctuation, and '_' for any other character.  Voice Info "
                               "(cardmill voice --name) gives a voice another name.\n")
        self.assertEqual([f["name"] for f in self.listing(project)["groups"][0]["files"]][-2:], ["__.wav", "FlugelC3.w"])
        told = self.run_cardmill("add", project, *(self.write(f"ピアノ {n}.wav", wav(frames=80 + n)) for n in (1, 2)),
                                 check=0).stderr
        self.assertIn("2 files show on the instrument under other names: ", told)
        self.assertIn("'ピアノ 1.wav' shows as '___ 1.wav'\n'ピアノ 2.wav' shows as '___ 2.wav'\nAdded 2 items.", told)


class RawData(CardmillTestCase):
    def test_a_file_no_reader_understands_joins_only_with_consent(self):
        data = bytes((i * 37 + 11) & 0xFF for i in range(3000))
        blob, cmt = self.write("blob.bin", data), self.path("blob.cmt")
        project = self.new_project("raw.cmr")
        before = read(project)
        for answer in ([], ["--no"]):
            result = self.run_cardmill(*answer, "add", project, blob, check=3)
            self.assertIn("Cardmill doesn't understand the file", result.stderr)
            self.assertEqual(read(project), before)
        self.run_cardmill("instrument", "-o", cmt, blob, check=3)
        self.assertFalse(os.path.exists(cmt))

        # With --yes, as the same sound whether added or made an instrument of.
        self.run_cardmill("--yes", "add", project, blob, check=0)
        self.assertEqual([f["file"] for f in self.listing(project)["groups"][0]["files"]], ["blob.bin"])
        self.run_cardmill("--yes", "instrument", "-o", cmt, blob, check=0)
        other = self.new_project("inst.cmr")
        self.run_cardmill("add", other, cmt, check=0)
        for card in (project, other):
            self.assertIn(card_words(data), self.run_cardmill("image", card, "-o", "-", text=False, check=0).stdout)

if __name__ == "__main__":
    unittest.main()
