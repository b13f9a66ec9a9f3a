"""Instruments as they really behave, reached through a pty: Active Sensing every 300 ms, clock
bytes inside replies, erases slower than the wait for them, silence half-way. What counts is
what a person finds: the card the instrument keeps, how soon the command ends, what it says."""

import re
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

    def test_an_interface_that_loses_bytes_of_long_messages_is_paced_until_the_card_is_exact(self):
        # Through a pty, as a USB-MIDI interface is reached; the short identity messages get
        # through at any speed.
        blocks = (len(self.expected) + 1023) // 1024
        for lossy, pace in ((("--interface-buffer", "64", "--baud", "31250"), "3,125"),
                            (("--lose-every", "255"), "31,250")):
            with self.subTest(lossy=lossy):
                # Settings of their own: the pty's path may be the one the last interface had,
                # whose pace is remembered.
                self.env = dict(self.env, CARDMILL_CONFIG_DIR=self.path(f"config-{lossy[0]}"))
                card = self.path("lossy.bin")
                sim = SimProcess(self, "--card-size", "1M", *lossy, card="lossy.bin")
                first = self.send(sim.port)
                # A loaded machine may read two pieces as one burst, so the pace found may be a
                # step slower than the interface needs; it is told once, and kept.
                told = re.findall(r"the link loses bytes at full speed; sending at ([\d,]+) bytes a second",
                                  first.stderr)
                self.assertEqual(len(told), 1, first.stderr)
                self.assertLessEqual(int(told[0].replace(",", "")), int(pace.replace(",", "")))
                self.assertIn("The card is ready.", first.stderr)
                self.assertNotIn("Retry", first.stderr)
                ports = self.run_cardmill("ports", check=0).stdout
                self.assertIn(f"  {sim.port}: {told[0]} bytes a second", ports)

                # The next transfer through that port starts at the pace that worked: at full speed
                # every block would arrive damaged; at the pace, hardly any does.
                logged = len(read(sim.log))
                self.run_cardmill("erase", "--yes", "--card-size", "1M", "--port", sim.port, check=0)
                second = self.send(sim.port)
                sim.stop()
                self.assertNotIn("loses bytes at full speed", second.stderr)
                self.assertNotIn("Retry", second.stderr)
                self.assertTrue(card_holds(card, self.expected), "the card differs from the image")
                log = read(sim.log)[logged:].decode()
                resent = log.count("received write block") - blocks
                self.assertGreaterEqual(resent, 0, log[-2000:])
                self.assertLess(resent, blocks / 8, log[-2000:])

    def test_a_pace_given_is_used_and_remembered_and_zero_forgets_it(self):
        port = f"sim --card-size 1M --lose-every 255 --card {self.path('inproc.bin')}"
        # At full speed asked for, the blocks are slowed all the same.
        result = self.send(port, "--pace", "0")
        self.assertIn("the link loses bytes at full speed; sending at 31,250 bytes a second",
                      result.stderr)
        self.assertIn(f"  {port}: 31,250 bytes a second", self.run_cardmill("ports", check=0).stdout)
        # A pace given starts the run there, and is what the port keeps.
        result = self.send(port, "--pace", "3125")
        self.assertNotIn("loses bytes", result.stderr)
        self.assertIn(f"  {port}: 3,125 bytes a second", self.run_cardmill("ports", check=0).stdout)
        self.run_cardmill("test-midi", "--port", port, "--pace", "0", check=0)
        self.assertNotIn(port, self.run_cardmill("ports", check=0).stdout)
        json_ports = self.run_cardmill("ports", "--json", check=0).stdout
        self.assertIn('"paces"', json_ports)
        # One wrong pace: what a pace may be is LinkPace's unit test.
        refused = self.send(port, "--pace", "3,125", check=2)
        self.assertIn("--pace takes bytes a second from 1,000 to 1,000,000", refused.stderr)

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
