"""Writing cards in the virtual instrument: through a pty to a separate `cardmill sim --pty`
process, and again in-process (--port 'sim ...'). The card the instrument keeps must hold exactly
the bytes of `cardmill image` of the same project."""

import time
import unittest

from cardmill_e2e import SECTOR, CardmillTestCase, Instrument, card_holds, read


class Transfer(CardmillTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.new_project("song.cmr", "--card-size", "4M")
        # Into a third sector: a sound of 150,000 frames.
        self.run_cardmill("add", self.project, "--group", "k1", self.sox("long.wav", "150000s", "sine", "220"),
                          self.sox("short.wav", "0.1", "square", "440", rate=22050), check=0)
        self.image = self.path("song.img")
        self.run_cardmill("image", "--yes", self.project, "-o", self.image, check=0)
        self.expected = read(self.image)
        self.assertGreater(len(self.expected), 2 * SECTOR)

    def instruments(self):
        return [Instrument(self, in_process) for in_process in (False, True)]

    def blocks(self, erase=True):
        names = []
        for i in range((len(self.expected) + 1023) // 1024):
            if erase and i % 128 == 0:
                names.append(f"erase {i // 128}")
            names.append(f"block {i // 128} {i % 128}")
        return names

    def test_a_card_written_holds_the_image(self):
        faults = ("--fault", "drop:3", "--fault", "corrupt:40", "--fault", "refuse:2:200", "--fault", "drop:131")
        cases = (
            ("send erases each sector before its blocks", (), ("send", self.project),
             ["identify"] + self.blocks()),
            ("send-image", (), ("send-image", "--yes", self.image), ["identify"] + self.blocks()),
            # The first erase is refused; the blocks then go without.
            ("an instrument without the erase command", ("--no-erase-command",), ("send", self.project),
             ["identify", "erase 0"] + self.blocks(erase=False)),
            # Recovered without a question: --no would end the run.
            ("lost replies, corrupt blocks and refusals", faults, ("send", "--no", self.project), None))
        for name, options, command, order in cases:
            for instrument in self.instruments():
                with self.subTest(name, way=instrument.name):
                    result = self.run_cardmill(*command, "--port", instrument.start(*options), check=0)
                    messages = instrument.stop()
                    self.assertIn("Orvane Device: Zelta Grand v01.00", result.stderr)
                    self.assertIn("The card is ready.", result.stderr)
                    self.assertNotIn("can't", result.stderr)
                    if order:
                        self.assertEqual(messages, order)
                    self.assertEqual(len(read(instrument.card)), 4 * 1024 * 1024)
                    self.assertTrue(card_holds(instrument.card, self.expected), "the card differs from the image")

    def test_test_midi_names_the_instrument_and_erase_erases_every_sector(self):
        for instrument in self.instruments():
            with self.subTest(instrument.name):
                result = self.run_cardmill("test-midi", "--port", instrument.start("--firmware", "0102"), check=0)
                self.assertEqual(result.stdout, "Orvane Device: Zelta Grand v01.02\n")
                instrument.stop()
                port = instrument.start()
                # Cards past 16 MB are refused before anything is sent.
                result = self.run_cardmill("erase", "--card-size", "24M", "--port", port, check=1)
                self.assertIn("16 megabytes", result.stderr)
                self.run_cardmill("erase", "--yes", "--card-size", "4M", "--port", port, check=0)
                self.assertEqual(instrument.stop(), ["identify"] + [f"erase {s}" for s in range(32)])

    def test_a_silent_instrument_is_asked_about_and_no_ends_the_run(self):
        for instrument in self.instruments():
            with self.subTest(instrument.name):
                start = time.monotonic()
                result = self.run_cardmill("send", "--no", self.project, "--port",
                                           instrument.start("--fault", "silent:20"), check=3)
                names = instrument.stop()
                self.assertIn("The synthesizer has stopped responding.", result.stderr)
                # Message 20 and its resends (two at full speed and at each slower pace, three at
                # the DIN rate), and nothing after the answer.
                self.assertEqual(len(names), 19 + 2 * 5 + 3)
                self.assertEqual(set(names[19:]), {names[19]})
                self.assertLess(time.monotonic() - start, 60)


if __name__ == "__main__":
    unittest.main()
