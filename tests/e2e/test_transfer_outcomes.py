"""What a transfer tells the musician, through the real cardmill and `cardmill sim --pty`: what a
resume rested on when the card was swapped, how far a card got when Ctrl-C stopped it, the erase
that asks first, the questions answered on a terminal, and what is refused before the card is
touched."""

import os
import signal
import subprocess
import time
import unittest

from cardmill_e2e import CardmillTestCase, SimProcess, card_holds, read, received


class TransferOutcomes(CardmillTestCase):
    def setUp(self):
        super().setUp()
        # 250,000 frames of 16-bit sound: an image of four sectors.
        self.project = self.new_project("live.cmr", "--card-size", "4M")
        self.run_cardmill("add", "--yes", self.project, "--group", "k1",
                          self.sox("pad.wav", "250000s", "sine", "220"), check=0)
        self.run_cardmill("image", self.project, "-o", self.path("live.img"), check=0)
        self.image = read(self.path("live.img"))
        self.assertEqual((len(self.image) + 131071) // 131072, 4)

    def test_resume_to_a_blank_card_swapped_in_says_nothing_was_sent_and_what_it_trusted(self):
        first = SimProcess(self)
        self.run_cardmill("send", self.project, "--port", first.port, check=0)
        first.stop()
        os.remove(first.card)  # another card, blank, in the same instrument
        blank = SimProcess(self, log="blank.log")
        result = self.run_cardmill("send", "--resume", self.project, "--port", blank.port, check=0)
        self.assertIn("The card is ready.  0 of 4 sectors needed writing: nothing was sent.",
                      result.stderr)
        self.assertIn("--resume trusted the transfer journal of this synthesizer, which can't see a "
                      "card swapped in its slot since.  If another card is in it now, send again "
                      "without --resume", result.stderr)
        blank.stop()
        self.assertEqual(received(blank.log), ["identify"])

        again = SimProcess(self, log="again.log")
        self.run_cardmill("send", self.project, "--port", again.port, check=0)
        again.stop()
        self.assertTrue(card_holds(again.card, self.image), "the whole card was not written")

    def test_a_project_for_since_and_a_port_that_cant_be_opened_are_refused_with_their_reason(self):
        sim = SimProcess(self)
        result = self.run_cardmill("send", self.project, "--since", self.project, "--port", sim.port,
                                   check=2)
        self.assertIn(f"'{self.project}' is a project file, not a card image", result.stderr)
        sim.stop()
        self.assertFalse(os.path.exists(sim.log) and received(sim.log), "the instrument was reached")

        # A pty nobody serves any more: the port's reason, once, not a busy MIDI system.
        gone = sim.port
        self.assertFalse(os.path.exists(gone))
        result = self.run_cardmill("send", self.project, "--port", gone, check=1)
        self.assertEqual(result.stderr.strip().splitlines()[-1],
                         f"This project can't compile because the MIDI port '{gone}' can't be "
                         "opened: No such file or directory.  Make sure your MIDI settings are "
                         "correct: name the instrument's port with --port (see 'cardmill ports').")
        self.assertEqual(result.stderr.count("can't be opened"), 1, result.stderr)

    def test_ctrl_c_says_how_far_the_card_got_and_resume_finishes_it(self):
        sim = SimProcess(self, "--write-ms", "20")
        send = self.popen("send", self.project, "--port", sim.port, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and not (
                os.path.exists(sim.log) and "block 0 5" in received(sim.log)):
            time.sleep(0.05)
        send.send_signal(signal.SIGINT)
        _, stderr = send.communicate(timeout=30)
        self.assertEqual(send.returncode, 130, stderr)
        self.assertRegex(stderr, r"The card holds 0 of the 4 sectors of this image, and \d+ of the 128 "
                                 r"blocks of sector 1\.  To write the rest, run the same command "
                                 r"again with --resume\.\ncardmill: stopped\n$")
        sim.stop()

        again = SimProcess(self, log="again.log")
        self.run_cardmill("send", "--resume", self.project, "--port", again.port, check=0)
        again.stop()
        self.assertTrue(card_holds(again.card, self.image))

    def test_erase_asks_first_cancels_by_default_and_says_what_it_erased(self):
        full = bytes(range(256)) * 4096  # a 1 MB card holding something
        self.write("card.bin", full)
        sim = SimProcess(self, "--card-size", "1M")
        erase = ("erase", "--card-size", "1M", "--port", sim.port)
        result = self.run_cardmill(*erase, check=3)
        self.assertIn("Erase the card in the synthesizer?  Everything in its first 1 Meg will be "
                      "lost.\n-> Cancel (no terminal to ask)", result.stderr)
        shown, status = self.on_terminal(erase, "\n")
        self.assertEqual(status, 3, shown)
        self.assertIn("[o]k / [c]ancel (Enter: cancel)? \n-> Cancel", shown)
        self.assertFalse(os.path.exists(sim.log) and received(sim.log), "the instrument was reached")

        result = self.run_cardmill("--yes", *erase, check=0)
        self.assertIn("The card is erased (1 Meg).", result.stderr)
        sim.stop()
        self.assertEqual(read(sim.card), b"\xff" * len(full))

    def test_a_card_for_the_other_instrument_takes_y_n_and_enter_as_people_type_them(self):
        sim = SimProcess(self, "--family", "percula")
        send = ("send", self.project, "--port", sim.port)
        for answer, status in (("\n", 3), ("n\n", 3)):
            shown, code = self.on_terminal(send, answer)
            self.assertIn("This card was made for the Zelta Synthesizer, but the instrument is a Percula",
                          " ".join(shown.split()))
            self.assertIn("Write it to the card all the same?", shown)
            self.assertEqual(code, status, shown)
        self.assertNotIn("block", " ".join(received(sim.log)))
        shown, code = self.on_terminal(send, "y\n")
        self.assertEqual(code, 0, shown)
        self.assertIn("The card is ready.", shown)
        sim.stop()
        self.assertTrue(card_holds(sim.card, self.image))


if __name__ == "__main__":
    unittest.main()
