"""Instruments as they really behave, reached through a pty: Active Sensing every 300 ms, clock
bytes inside replies, erases slower than the wait for them, silence half-way. What counts is
what a person finds: the card the instrument keeps, how soon the command ends, what it says."""

import signal
import subprocess
import time
import unittest

from cardmill_e2e import CardmillTestCase, SimProcess, card_holds, read


class MisbehavingInstrument(CardmillTestCase):
    def setUp(self):
        super().setUp()
        # Within one sector: a slow erase then costs one erase, not one a sector.
        project = self.new_project("song.cmr", "--card-size", "1M")
        self.run_cardmill("add", project, "--group", "k1", self.sox("tone.wav", "1.5", "sine", "330", rate=22050),
                          check=0)
        self.image = self.path("song.img")
        self.run_cardmill("image", project, "-o", self.image, check=0)
        self.expected = read(self.image)

    def send(self, port, *args, check=0):
        return self.run_cardmill("send-image", "--yes", self.image, "--port", port, *args,
                                 check=check)

    def test_clock_bytes_inside_replies_and_active_sensing_leave_the_card_exact(self):
        sim = SimProcess(self, "--card-size", "1M", "--active-sensing", "--clock")
        self.send(sim.port)
        sim.stop()
        self.assertTrue(card_holds(sim.card, self.expected), "the card differs from the image")
        # The same instrument in-process.
        card = self.path("inproc.bin")
        self.send(f"sim --card {card} --card-size 1M --active-sensing --clock")
        self.assertTrue(card_holds(card, self.expected), "the card differs from the image")

    def test_an_instrument_that_stops_answering_ends_the_run_within_90_seconds(self):
        sim = SimProcess(self, "--card-size", "1M", "--active-sensing", "--fault", "silent:10")
        start = time.monotonic()
        result = self.send(sim.port, "--retries", "1", check=3)
        self.assertLess(time.monotonic() - start, 90)
        sim.stop()
        self.assertIn("The synthesizer has stopped responding.", result.stderr)
        self.assertNotIn("The card is ready.", result.stderr)

    def test_an_interface_that_loses_bytes_of_long_messages_fails_the_send_and_says_so(self):
        # Through a pty and in-process alike; the short identity messages get through.
        for lossy in (("--interface-buffer", "64", "--baud", "31250"), ("--lose-every", "255")):
            with self.subTest(lossy=lossy):
                card = self.path("lossy.bin")
                sim = SimProcess(self, "--card-size", "1M", *lossy, card="lossy.bin")
                result = self.send(sim.port, "--retries", "1", check=3)
                sim.stop()
                self.assertIn("Zelta", result.stderr)
                self.assertNotIn("The card is ready.", result.stderr)
                self.assertFalse(card_holds(card, self.expected))
                inproc = self.send(f"sim --card-size 1M {' '.join(lossy)}", "--retries", "1", check=3)
                self.assertNotIn("The card is ready.", inproc.stderr)

    def test_sigterm_during_a_wait_ends_the_run_within_3_seconds(self):
        sim = SimProcess(self, "--card-size", "1M", "--active-sensing", "--fault", "silent:10")
        command = self.popen("send-image", "--yes", self.image, "--port", sim.port,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        # Waiting for the reply to message 10, which never comes.
        deadline = time.monotonic() + 30
        while "#10 received" not in open(sim.log).read() and time.monotonic() < deadline:
            time.sleep(0.1)
        time.sleep(1)
        start = time.monotonic()
        command.send_signal(signal.SIGTERM)
        _, errors = command.communicate(timeout=30)
        self.assertLess(time.monotonic() - start, 3)
        self.assertEqual(command.returncode, 143, errors)
        sim.stop()

    def test_after_an_erase_a_resume_writes_the_whole_card(self):
        sim = SimProcess(self, "--card-size", "1M", "--active-sensing")
        self.send(sim.port)
        self.run_cardmill("erase", "--yes", "--card-size", "1M", "--port", sim.port, check=0)
        result = self.send(sim.port, "--resume")
        sim.stop()
        self.assertIn("erased after the last transfer", result.stderr)
        self.assertTrue(card_holds(sim.card, self.expected), "the card differs from the image")

    def test_late_replies_to_a_slow_erase_are_not_taken_for_the_next_blocks(self):
        # The erase outlasts its 10 s wait, is sent again and answered twice; block 4 arrives
        # damaged and is refused. Each block must be acknowledged by its own reply.
        sim = SimProcess(self, "--card-size", "1M", "--erase-ms", "12000", "--fault",
                         "corrupt:12")
        result = self.send(sim.port)
        sim.stop()
        self.assertIn("The card is ready.", result.stderr)
        self.assertTrue(card_holds(sim.card, self.expected), "the card differs from the image")


if __name__ == "__main__":
    unittest.main()
