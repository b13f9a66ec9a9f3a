"""cardmill ports: the MIDI port list, with or without an ALSA sequencer."""

import json
import os
import unittest

from cardmill_e2e import CardmillTestCase

HAS_SEQUENCER = os.path.exists("/dev/snd/seq")


class Ports(CardmillTestCase):
    def test_json_lists_both_sides_with_the_virtual_instrument_last(self):
        ports = json.loads(self.run_cardmill("ports", "--json", check=0).stdout)
        self.assertEqual(sorted(ports), ["alsa", "inputs", "outputs"])
        self.assertIs(ports["alsa"], HAS_SEQUENCER)
        for side in ("inputs", "outputs"):
            self.assertEqual(ports[side][-1], "sim")
            # ALSA's changing client numbers never reach the names.
            for name in ports[side]:
                self.assertNotRegex(name, r" \d+:\d+$")

    @unittest.skipIf(HAS_SEQUENCER, "this machine has an ALSA sequencer")
    def test_without_a_sequencer_it_says_so_and_succeeds(self):
        result = self.run_cardmill("ports", check=0)
        self.assertIn("no ALSA sequencer is available", result.stdout)
        self.assertNotIn("ALSA lib", result.stderr)
        lines = result.stdout.splitlines()
        self.assertEqual(lines[:2], ["MIDI inputs:", "  (no ALSA sequencer is available)"])
        self.assertEqual(lines[lines.index("MIDI outputs:") - 1], "  sim")

    def test_arguments_are_a_usage_error(self):
        self.run_cardmill("ports", "extra", check=2)


if __name__ == "__main__":
    unittest.main()
