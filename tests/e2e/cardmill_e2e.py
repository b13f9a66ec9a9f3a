"""Shared helpers of the end-to-end tests: run the built cardmill with a settings folder of the
test's own, and parse its JSON."""

import json
import os
import subprocess
import tempfile
import unittest

CARDMILL = os.environ.get("CARDMILL", "cardmill")
SNDFILE_WRITER = os.environ.get("SNDFILE_WRITER", "sndfile_writer")
KILL_AT_CALL_LIBRARY = os.environ.get("KILL_AT_CALL_LIBRARY", "")


class CardmillTestCase(unittest.TestCase):
    def setUp(self):
        self._tmp = tempfile.TemporaryDirectory(prefix="cardmill-e2e-")
        self.dir = self._tmp.name
        self.config = os.path.join(self.dir, "config")
        os.makedirs(self.config)

    def tearDown(self):
        self._tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def run_cardmill(self, *args, stdin=subprocess.DEVNULL, check=None):
        env = dict(os.environ, CARDMILL_CONFIG_DIR=self.config)
        result = subprocess.run([CARDMILL, *args], capture_output=True, text=True, env=env,
                                stdin=stdin, timeout=300)
        if check is not None:
            self.assertEqual(result.returncode, check,
                             f"cardmill {' '.join(args)}\nstdout: {result.stdout}\nstderr: {result.stderr}")
        return result

    def info(self, *paths):
        result = self.run_cardmill("info", "--json", *paths)
        return json.loads(result.stdout), result

    def tool(self, *args):
        subprocess.run(list(args), check=True, capture_output=True, timeout=300)
