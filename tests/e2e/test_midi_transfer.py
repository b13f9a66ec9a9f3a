"""Writing cards in the virtual instrument: through a pty to a separate `cardmill sim --pty`
process, and again in-process (--port 'sim ...'). The card the instrument keeps must hold exactly
the bytes of `cardmill image` of the same project."""

import os
import re
import signal
import subprocess
import time
import unittest

from cardmill_e2e import CARDMILL, CardmillTestCase

SECTOR = 131072


class SimProcess:
    """`cardmill sim --pty` with a card file and a log; stopped (and its card saved) by stop()."""

    def __init__(self, test, *options):
        self.card = test.path("card.bin")
        self.log = test.path("sim.log")
        for name in (self.card, self.log):
            if os.path.exists(name):
                os.remove(name)
        self.process = subprocess.Popen(
            [CARDMILL, "sim", "--pty", "--card", self.card, "--log", self.log, *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.port = self.process.stdout.readline().strip()
        test.assertTrue(self.port.startswith("/dev/pts/"), self.port)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=30)
        self.process.stdout.close()
        self.process.stderr.close()
        return self.process.returncode


class Transfer(CardmillTestCase):
    def setUp(self):
        super().setUp()
        # Into a third sector: a sound of 150,000 frames.
        self.tool("sox", "-n", "-r", "44100", "-b", "16", "-c", "1", self.path("long.wav"),
                  "synth", "150000s", "sine", "220")
        self.tool("sox", "-n", "-r", "22050", "-b", "16", "-c", "1", self.path("short.wav"),
                  "synth", "0.1", "square", "440")
        self.project = self.path("song.cmr")
        self.run_cardmill("new", self.project, "--name", "Transfer", "--card-size", "4M", check=0)
        self.run_cardmill("add", self.project, "--group", "k1", self.path("long.wav"),
                          self.path("short.wav"), check=0)
        self.image = self.path("song.img")
        self.run_cardmill("image", "--yes", self.project, "-o", self.image, check=0)
        with open(self.image, "rb") as f:
            self.expected = f.read()
        self.assertGreater(len(self.expected), 2 * SECTOR)

    # Each scenario runs against a sim process and in-process.
    def link(self, *options):
        """Yields (port, card path, log path, finish) for each way of reaching the instrument."""
        sim = SimProcess(self, *options)
        yield sim.port, sim.card, sim.log, sim.stop
        card = self.path("inproc.bin")
        log = self.path("inproc.log")
        for name in (card, log):
            if os.path.exists(name):
                os.remove(name)
        words = " ".join(["sim", "--card", card, "--log", log, *options])
        yield words, card, log, lambda: 0

    def card(self, path):
        with open(path, "rb") as f:
            return f.read()

    def messages(self, log):
        """The messages the instrument received, as 'identify', 'erase S', 'block S B'."""
        names = []
        with open(log, encoding="utf-8") as f:
            for line in f:
                if " received identity request" in line:
                    names.append("identify")
                elif m := re.search(r" received erase sector (\d+)", line):
                    names.append(f"erase {m.group(1)}")
                elif m := re.search(r" received write block (\d+) of sector (\d+)", line):
                    names.append(f"block {m.group(2)} {m.group(1)}")
                elif " received " in line:
                    names.append("other")
        return names

    def expected_order(self, erase=True):
        names = ["identify"]
        blocks = (len(self.expected) + 1023) // 1024
        for i in range(blocks):
            if erase and i % 128 == 0:
                names.append(f"erase {i // 128}")
            names.append(f"block {i // 128} {i % 128}")
        return names

    def assertCardHoldsImage(self, path):
        card = self.card(path)
        self.assertEqual(len(card), 4 * 1024 * 1024)
        self.assertTrue(card[:len(self.expected)] == self.expected, "the card differs from the image")
        self.assertEqual(card[len(self.expected):].count(0xFF), len(card) - len(self.expected))

    def test_send_erases_each_sector_first_and_the_card_is_the_image(self):
        for port, card, log, finish in self.link():
            with self.subTest(port=port):
                result = self.run_cardmill("send", self.project, "--port", port, check=0)
                self.assertEqual(finish(), 0)
                self.assertIn("Orvane Device: Zelta Grand v01.00", result.stderr)
                self.assertIn("The card is ready.", result.stderr)
                self.assertEqual(self.messages(log), self.expected_order())
                self.assertCardHoldsImage(card)

    def test_send_image_gives_the_same_card(self):
        for port, card, log, finish in self.link():
            with self.subTest(port=port):
                self.run_cardmill("send-image", "--yes", self.image, "--port", port, check=0)
                finish()
                self.assertCardHoldsImage(card)
                self.assertEqual(self.messages(log), self.expected_order())

    def test_an_instrument_without_the_erase_command_is_written_without_one(self):
        for port, card, log, finish in self.link("--no-erase-command"):
            with self.subTest(port=port):
                result = self.run_cardmill("send", self.project, "--port", port, check=0)
                finish()
                order = self.expected_order(erase=False)
                self.assertEqual(self.messages(log), order[:1] + ["erase 0"] + order[1:])
                self.assertCardHoldsImage(card)
                self.assertNotIn("can't", result.stderr)

    def test_erase_of_a_four_megabyte_card_sends_thirty_two_erases(self):
        for port, card, log, finish in self.link():
            with self.subTest(port=port):
                # Cards past 16 MB are refused before anything is sent.
                result = self.run_cardmill("erase", "--card-size", "24M", "--port", port, check=1)
                self.assertIn("16 megabytes", result.stderr)
                self.run_cardmill("erase", "--card-size", "4M", "--port", port, check=0)
                finish()
                self.assertEqual(self.messages(log),
                                 ["identify"] + [f"erase {s}" for s in range(32)])

    def test_test_midi_prints_the_banner(self):
        for port, card, log, finish in self.link("--firmware", "0102"):
            with self.subTest(port=port):
                result = self.run_cardmill("test-midi", "--port", port, check=0)
                finish()
                self.assertEqual(result.stdout, "Orvane Device: Zelta Grand v01.02\n")

    def test_lost_replies_corrupt_blocks_and_refusals_are_recovered(self):
        faults = ["--fault", "drop:3", "--fault", "corrupt:40", "--fault", "refuse:2:200",
                  "--fault", "drop:131"]
        for port, card, log, finish in self.link(*faults):
            with self.subTest(port=port):
                result = self.run_cardmill("send", "--no", self.project, "--port", port, check=0)
                finish()
                self.assertCardHoldsImage(card)
                self.assertNotIn("?", result.stderr.replace("Searching for synth...", ""))

    def test_a_silent_instrument_is_asked_about_and_no_ends_the_run(self):
        for port, card, log, finish in self.link("--fault", "silent:20"):
            with self.subTest(port=port):
                start = time.monotonic()
                result = self.run_cardmill("send", "--no", self.project, "--port", port, check=3)
                finish()
                self.assertIn("The synthesizer has stopped responding.", result.stderr)
                names = self.messages(log)
                # Message 20 and its two resends, and nothing after the answer.
                self.assertEqual(len(names), 22)
                self.assertEqual(set(names[19:]), {names[19]})
                self.assertLess(time.monotonic() - start, 60)


if __name__ == "__main__":
    unittest.main()
