"""Resuming a transfer that stopped and updating a card with only the sectors that changed, through
a pty to separate `cardmill sim --pty` processes and again in-process. The instrument's log shows
which sectors were erased and written; the card must end byte-identical to the image."""

import glob
import hashlib
import os
import shutil
import subprocess
import time
import unittest

from cardmill_e2e import SECTOR, CardmillTestCase, Instrument, card_holds, read, write_song


def sectors(messages):
    """The sectors erased, in order, and the sectors written to, from the messages received."""
    erased = [int(m.split()[1]) for m in messages if m.startswith("erase")]
    return erased, sorted({int(m.split()[1]) for m in messages if m.startswith("block")})


def sectors_of(image):
    return list(range((len(image) + SECTOR - 1) // SECTOR))


class TransferJournal(CardmillTestCase):
    def setUp(self):
        super().setUp()
        # Six sectors: a sound of 400,000 frames and two songs behind it.
        write_song(self.path("verse.mid"), 20)
        write_song(self.path("chorus.mid"), 30)
        self.project = self.new_project("song.cmr", "--card-size", "4M")
        self.run_cardmill("add", "--yes", self.project, "--group", "k1", self.sox("long.wav", "400000s", "sine", "220"),
                          check=0)
        self.run_cardmill("add", self.project, self.path("verse.mid"), self.path("chorus.mid"), check=0)
        self.image = self.make_image("song.img")
        self.whole = sectors_of(self.image)
        self.assertEqual(len(self.whole), 6)

    def make_image(self, name):
        self.run_cardmill("image", "--yes", self.project, "-o", self.path(name), check=0)
        return read(self.path(name))

    def instruments(self):
        """Each way of reaching the instrument, with no record of earlier transfers."""
        for in_process in (False, True):
            for journal in glob.glob(os.path.join(self.config, "transfers", "*")):
                os.remove(journal)
            yield Instrument(self, in_process)

    def journal_claims(self):
        """The sectors the journal says the card holds, with their hashes."""
        claims = {}
        for journal in glob.glob(os.path.join(self.config, "transfers", "*.journal")):
            with open(journal, encoding="utf-8") as f:
                claims.update({int(words[1]): words[2] for words in (line.split() for line in f)
                               if words and words[0] == "sector"})
        return claims

    def test_resume_writes_only_the_sectors_missing_after_the_instrument_went_silent(self):
        for instrument in self.instruments():
            with self.subTest(instrument.name):
                # Message 400 is block 10 of sector 3: sectors 0 to 2 are complete.
                result = self.run_cardmill("send", "--no", self.project, "--port",
                                           instrument.start("--fault", "silent:400"), check=3)
                self.assertIn("The synthesizer has stopped responding.", result.stderr)
                self.assertIn("The card holds 3 of the 6 sectors of this image, and 10 of the 128 blocks of sector 4.", result.stderr)
                self.assertIn("--resume", result.stderr)
                self.assertEqual(sectors(instrument.stop())[0], [0, 1, 2, 3])

                # The port's name changes (a new pty); the instrument's identity doesn't.
                result = self.run_cardmill("send", "--resume", self.project, "--port", instrument.start(), check=0)
                self.assertIn("The card is ready.", result.stderr)
                self.assertEqual(sectors(instrument.stop()), ([3, 4, 5], [3, 4, 5]))
                self.assertTrue(card_holds(instrument.card, self.image), "the card differs from the image")

                # A second resume finds nothing missing and sends nothing but the identity request.
                self.run_cardmill("send-image", "--yes", "--resume", self.path("song.img"), "--port",
                                  instrument.start(), check=0)
                self.assertEqual(instrument.stop(), ["identify"])

    def test_a_killed_transfer_leaves_a_journal_that_claims_only_what_the_card_holds(self):
        for instrument in self.instruments():
            with self.subTest(instrument.name):
                # 2 ms a block: the whole card takes about 1.5 s; the kill comes once a sector is
                # recorded. In-process, the instrument dies with the program and its card file
                # must still hold every block it acknowledged.
                send = self.popen("send", self.project, "--port", instrument.start("--write-ms", "2"),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                deadline = time.monotonic() + 60
                while not self.journal_claims() and time.monotonic() < deadline:
                    time.sleep(0.01)
                time.sleep(0.1)
                send.kill()
                send.wait()
                instrument.stop()
                card = read(instrument.card)
                claims = self.journal_claims()
                self.assertTrue(claims, "no sector was recorded")
                for sector, digest in claims.items():
                    end = min((sector + 1) * SECTOR, len(self.image))
                    self.assertEqual(hashlib.sha256(card[sector * SECTOR:end]).hexdigest(), digest,
                                     f"the journal claims sector {sector}")
                missing = [s for s in self.whole if s not in claims]
                self.assertTrue(missing, "the transfer ended before the kill")

                self.run_cardmill("send", "--resume", self.project, "--port", instrument.start(), check=0)
                self.assertEqual(sectors(instrument.stop()), (missing, missing))
                self.assertTrue(card_holds(instrument.card, self.image), "the card differs from the image")

    def test_a_changed_last_song_rewrites_only_the_sectors_that_changed(self):
        for instrument in self.instruments():
            with self.subTest(instrument.name):
                self.run_cardmill("send", self.project, "--port", instrument.start(), check=0)
                instrument.stop()

                write_song(self.path("chorus.mid"), 45, 50)
                changed_image = self.make_image("changed.img")
                changed = [s for s in sectors_of(changed_image)
                           if changed_image[s * SECTOR:(s + 1) * SECTOR] != self.image[s * SECTOR:(s + 1) * SECTOR]]
                self.assertLess(len(changed), 3, changed)

                result = self.run_cardmill("--progress", "send", self.project, "--since", self.path("song.img"),
                                           "--port", instrument.start(), check=0)
                # The progress counts only the sectors written.
                self.assertIn(f"Sectors to write:  {len(changed)} of 6", result.stderr)
                self.assertEqual(sectors(instrument.stop()), (changed, changed))
                self.assertTrue(card_holds(instrument.card, changed_image), "the card differs from the changed image")
                # Put back for the next way of reaching the instrument.
                write_song(self.path("chorus.mid"), 30)

    def cut_journals(self):
        for journal in glob.glob(os.path.join(self.config, "transfers", "*")):
            os.truncate(journal, 100)

    def test_a_journal_of_another_image_or_card_is_refused_and_the_whole_card_written(self):
        other = self.image[:SECTOR] + bytes(len(self.image) - SECTOR)
        self.write("other.img", other)
        bigger = self.path("bigger.cmr")
        shutil.copy(self.project, bigger)
        self.run_cardmill("set", bigger, "--card-size", "8M", check=0)
        earlier = self.path("song.img")
        cases = (  # (before, command, message, the card then)
            (None, ("send-image", "--yes", "--resume", self.path("other.img")),
             "The last transfer to this synthesizer was of another card image, so the whole card will be written.",
             other),
            # An earlier image that the journal says is not on the card.
            (None, ("send", "--since", earlier, self.project), f"was not of '{earlier}'", self.image),
            (None, ("send", "--resume", bigger), "went to a card of 4194304 bytes, not to this card of 8388608 bytes",
             None),
            (self.cut_journals, ("send", "--resume", self.project), "is damaged), so the whole card will be written.",
             self.image))
        for instrument in self.instruments():
            with self.subTest(instrument.name):
                self.run_cardmill("send", "--no", self.project, "--port", instrument.start("--fault", "silent:400"),
                                  check=3)
                instrument.stop()
                for before, command, message, card in cases:
                    if before:
                        before()
                    result = self.run_cardmill(*command, "--port", instrument.start(), check=0)
                    self.assertIn(message, result.stderr)
                    self.assertEqual(sectors(instrument.stop()), (self.whole, self.whole), message)
                    if card:
                        self.assertTrue(card_holds(instrument.card, card), message)

if __name__ == "__main__":
    unittest.main()
