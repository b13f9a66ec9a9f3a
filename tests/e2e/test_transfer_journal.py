"""Resuming a transfer that stopped and updating a card with only the sectors that changed, through
a pty to separate `cardmill sim --pty` processes and again in-process. The instrument's log shows
which sectors were erased and written; the card must end byte-identical to the image."""

import glob
import hashlib
import os
import re
import signal
import subprocess
import time
import unittest

import mido

from cardmill_e2e import CARDMILL, CardmillTestCase

SECTOR = 131072


def write_song(path, notes, low):
    song = mido.MidiFile(type=0, ticks_per_beat=96)
    track = mido.MidiTrack()
    song.tracks.append(track)
    for i in range(notes):
        track.append(mido.Message("note_on", note=low + i % 12, velocity=90, time=0 if i == 0 else 48))
        track.append(mido.Message("note_off", note=low + i % 12, velocity=0, time=48))
    song.save(path)


class Instrument:
    """The virtual instrument keeping its card in one file across runs: a `cardmill sim --pty`
    process per run, or the in-process port."""

    def __init__(self, test, in_process):
        self.test = test
        self.in_process = in_process
        self.card = test.path("inproc.bin" if in_process else "card.bin")
        self.runs = 0
        self.process = None

    def start(self, *options):
        """The port of a fresh run with its own log; the card stays."""
        self.runs += 1
        self.log = self.test.path(f"{'inproc' if self.in_process else 'pty'}-{self.runs}.log")
        if self.in_process:
            return " ".join(["sim", "--card", self.card, "--log", self.log, *options])
        self.process = subprocess.Popen(
            [CARDMILL, "sim", "--pty", "--card", self.card, "--log", self.log, *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        port = self.process.stdout.readline().strip()
        self.test.assertTrue(port.startswith("/dev/pts/"), port)
        return port

    def stop(self):
        """Ends the run (the card is saved) and returns the sectors erased and written."""
        if self.process:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(timeout=30)
            self.process.stdout.close()
            self.process.stderr.close()
            self.process = None
        erased, written = [], set()
        with open(self.log, encoding="utf-8") as f:
            for line in f:
                if m := re.search(r" received erase sector (\d+)", line):
                    erased.append(int(m.group(1)))
                elif m := re.search(r" received write block \d+ of sector (\d+)", line):
                    written.add(int(m.group(1)))
        return erased, sorted(written)

    def holds(self, image):
        with open(self.card, "rb") as f:
            card = f.read()
        return card[:len(image)] == image and card[len(image):].count(0xFF) == len(card) - len(image)


class TransferJournal(CardmillTestCase):
    def setUp(self):
        super().setUp()
        # Six sectors: a sound of 400,000 frames and two songs behind it.
        self.tool("sox", "-n", "-r", "44100", "-b", "16", "-c", "1", self.path("long.wav"),
                  "synth", "400000s", "sine", "220")
        write_song(self.path("verse.mid"), 20, 60)
        write_song(self.path("chorus.mid"), 30, 60)
        self.project = self.path("song.cmr")
        self.run_cardmill("new", self.project, "--card-size", "4M", check=0)
        self.run_cardmill("add", "--yes", self.project, "--group", "k1", self.path("long.wav"), check=0)
        self.run_cardmill("add", self.project, self.path("verse.mid"), self.path("chorus.mid"), check=0)
        self.image = self.make_image("song.img")

    def make_image(self, name):
        self.run_cardmill("image", "--yes", self.project, "-o", self.path(name), check=0)
        with open(self.path(name), "rb") as f:
            return f.read()

    def instruments(self):
        for in_process in (False, True):
            # Each way starts with no record of earlier transfers.
            for journal in glob.glob(os.path.join(self.config, "transfers", "*")):
                os.remove(journal)
            with self.subTest(in_process=in_process):
                yield Instrument(self, in_process)

    def sectors(self, image):
        return list(range((len(image) + SECTOR - 1) // SECTOR))

    def test_resume_writes_only_the_sectors_missing_after_the_instrument_went_silent(self):
        self.assertEqual(len(self.sectors(self.image)), 6)
        for instrument in self.instruments():
            # Message 400 is block 10 of sector 3: sectors 0 to 2 are complete.
            port = instrument.start("--fault", "silent:400")
            result = self.run_cardmill("send", "--no", self.project, "--port", port, check=3)
            self.assertIn("The synthesizer has stopped responding.", result.stderr)
            self.assertIn("The card holds 3 of the 6 sectors of this image.", result.stderr)
            self.assertIn("--resume", result.stderr)
            erased, _ = instrument.stop()
            self.assertEqual(erased, [0, 1, 2, 3])

            # The port's name changes (a new pty); the instrument's identity doesn't.
            port = instrument.start()
            result = self.run_cardmill("send", "--resume", self.project, "--port", port, check=0)
            self.assertIn("The card is ready.", result.stderr)
            erased, written = instrument.stop()
            self.assertEqual(erased, [3, 4, 5])
            self.assertEqual(written, [3, 4, 5])
            self.assertTrue(instrument.holds(self.image), "the card differs from the image")

            # A second resume finds nothing missing and sends nothing but the identity request.
            port = instrument.start()
            self.run_cardmill("send-image", "--yes", "--resume", self.path("song.img"), "--port", port,
                              check=0)
            self.assertEqual(instrument.stop(), ([], []))

    def test_a_killed_transfer_leaves_a_journal_that_claims_only_what_the_card_holds(self):
        env = dict(os.environ, CARDMILL_CONFIG_DIR=self.config)
        for instrument in self.instruments():
            # 2 ms a block: the whole card takes about 1.5 s; the kill comes once a sector is
            # recorded. In-process, the instrument dies with the program and its card file must
            # still hold every block it acknowledged.
            port = instrument.start("--write-ms", "2")
            send = subprocess.Popen([CARDMILL, "send", self.project, "--port", port], env=env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 60
            while not self.journal_claims() and time.monotonic() < deadline:
                time.sleep(0.01)
            time.sleep(0.1)
            send.kill()
            send.wait()
            instrument.stop()
            with open(instrument.card, "rb") as f:
                card = f.read()
            claims = self.journal_claims()
            self.assertTrue(claims, "no sector was recorded")
            for sector, digest in claims.items():
                end = min((sector + 1) * SECTOR, len(self.image))
                self.assertEqual(hashlib.sha256(card[sector * SECTOR:end]).hexdigest(), digest,
                                 f"the journal claims sector {sector}")
            missing = [s for s in self.sectors(self.image) if s not in claims]
            self.assertTrue(missing, "the transfer ended before the kill")

            port = instrument.start()
            self.run_cardmill("send", "--resume", self.project, "--port", port, check=0)
            self.assertEqual(instrument.stop(), (missing, missing))
            self.assertTrue(instrument.holds(self.image), "the card differs from the image")

    def journal_claims(self):
        """The sectors the journal says the card holds, with their hashes."""
        claims = {}
        for journal in glob.glob(os.path.join(self.config, "transfers", "*.journal")):
            with open(journal, encoding="utf-8") as f:
                claims.update({int(words[1]): words[2] for words in (line.split() for line in f)
                               if words and words[0] == "sector"})
        return claims

    def test_a_changed_last_song_rewrites_only_the_sectors_that_changed(self):
        for instrument in self.instruments():
            port = instrument.start()
            self.run_cardmill("send", self.project, "--port", port, check=0)
            instrument.stop()

            write_song(self.path("chorus.mid"), 45, 50)
            changed_image = self.make_image("changed.img")
            changed = [s for s in self.sectors(changed_image)
                       if changed_image[s * SECTOR:(s + 1) * SECTOR] != self.image[s * SECTOR:(s + 1) * SECTOR]]
            self.assertLess(len(changed), 3, changed)

            port = instrument.start()
            result = self.run_cardmill("send", self.project, "--since", self.path("song.img"),
                                       "--port", port, check=0)
            # The progress counts only the sectors written.
            self.assertIn(f"Sectors to write:  {len(changed)} of 6", result.stderr)
            erased, written = instrument.stop()
            self.assertEqual(erased, changed)
            self.assertEqual(written, changed)
            self.assertTrue(instrument.holds(changed_image), "the card differs from the changed image")
            # Put back for the next way of reaching the instrument.
            write_song(self.path("chorus.mid"), 30, 60)

    def test_a_journal_of_another_image_or_card_is_refused_and_the_whole_card_written(self):
        whole = self.sectors(self.image)
        for instrument in self.instruments():
            port = instrument.start("--fault", "silent:400")
            self.run_cardmill("send", "--no", self.project, "--port", port, check=3)
            instrument.stop()

            # Another image: the journal is of the project's.
            other = self.image[:SECTOR] + bytes(len(self.image) - SECTOR)
            with open(self.path("other.img"), "wb") as f:
                f.write(other)
            port = instrument.start()
            result = self.run_cardmill("send-image", "--yes", "--resume", self.path("other.img"),
                                       "--port", port, check=0)
            self.assertIn("The last transfer to this synthesizer was of another card image, so the "
                          "whole card will be written.", result.stderr)
            self.assertEqual(instrument.stop(), (whole, whole))
            self.assertTrue(instrument.holds(other))

            # An earlier image the journal says is not on the card.
            port = instrument.start()
            result = self.run_cardmill("send", "--since", self.path("song.img"), self.project,
                                       "--port", port, check=0)
            self.assertIn("was not of '" + self.path("song.img") + "'", result.stderr)
            self.assertEqual(instrument.stop(), (whole, whole))
            self.assertTrue(instrument.holds(self.image))

            # Another card size.
            self.run_cardmill("set", self.project, "--card-size", "8M", check=0)
            port = instrument.start()
            result = self.run_cardmill("send", "--resume", self.project, "--port", port, check=0)
            self.assertIn("went to a card of 4194304 bytes, not to this card of 8388608 bytes",
                          result.stderr)
            self.assertEqual(instrument.stop(), (whole, whole))
            self.run_cardmill("set", self.project, "--card-size", "4M", check=0)

            # A damaged journal is not trusted either.
            for journal in glob.glob(os.path.join(self.config, "transfers", "*")):
                with open(journal, "r+b") as f:
                    f.truncate(100)
            port = instrument.start()
            result = self.run_cardmill("send", "--resume", self.project, "--port", port, check=0)
            self.assertIn("is damaged), so the whole card will be written.", result.stderr)
            self.assertEqual(instrument.stop(), (whole, whole))
            self.assertTrue(instrument.holds(self.image))


if __name__ == "__main__":
    unittest.main()
