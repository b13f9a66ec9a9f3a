"""cardmill sim --pty: the virtual instrument on a pseudo-terminal, talked to from Python as a raw
MIDI device with messages built here, independently of the program's own SysEx code."""

import os
import select
import signal
import subprocess
import termios
import time
import unittest

from cardmill_e2e import CARDMILL, CardmillTestCase

MAKER = bytes([0x00, 0x00, 0x0E])
ZELTA = 0x0E
SECTOR = 128 * 1024
IDENTITY_REQUEST = bytes([0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7])
ACK = bytes([0xF0]) + MAKER + bytes([ZELTA, 0x14, 0xF7])


def erase_message(sector):
    return bytes([0xF0]) + MAKER + bytes([ZELTA, 0x11, sector, 0xF7])


def block_message(sector, block, data):
    """A 1024-byte block as the instrument's manual describes it: the data as one little-endian
    bit stream cut into 1171 seven-bit bytes, then a checksum of those, the sector and the
    block, modulo 128."""
    assert len(data) == 1024
    bits = int.from_bytes(data, "little")
    packed = bytes((bits >> (7 * i)) & 0x7F for i in range(1171))
    checksum = (sum(packed) + sector + block) & 0x7F
    return (bytes([0xF0]) + MAKER + bytes([ZELTA, 0x12, sector, block]) + packed
            + bytes([checksum, 0xF7]))


def pattern(seed):
    # Every byte value in play, 0x0D, 0x11 and 0x13 among them.
    return bytes((i * 37 + seed * 101 + (i >> 8)) & 0xFF for i in range(1024))


class Client:
    """One program's use of the pty: opened, made raw (no echo, no CR/LF mapping, no XON/XOFF),
    without flushing what may wait in it, so that the server's own care is what is tested."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        mode = termios.tcgetattr(self.fd)
        mode[0] = 0  # iflag
        mode[1] = 0  # oflag
        mode[2] = (mode[2] & ~termios.CSIZE) | termios.CS8 | termios.CREAD | termios.CLOCAL
        mode[3] = 0  # lflag
        mode[6][termios.VMIN] = 1
        mode[6][termios.VTIME] = 0
        termios.tcsetattr(self.fd, termios.TCSANOW, mode)

    def close(self):
        os.close(self.fd)

    def send(self, message):
        os.write(self.fd, message)

    def message(self, timeout=5.0):
        """The next complete message (F0 ... F7), or what came before the time ran out."""
        got = b""
        deadline = time.monotonic() + timeout
        while not got.endswith(b"\xF7"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                break
            got += os.read(self.fd, 1)
        return got

    def pending(self, wait=0.2):
        return bool(select.select([self.fd], [], [], wait)[0])


class Sim(CardmillTestCase):
    def start(self, *args):
        env = dict(os.environ, CARDMILL_CONFIG_DIR=self.config)
        process = subprocess.Popen([CARDMILL, "sim", "--pty", *args], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True, env=env)
        self.addCleanup(self.stop, process)
        ready = select.select([process.stdout], [], [], 10)[0]
        self.assertTrue(ready, "the sim printed no pty path")
        path = process.stdout.readline().strip()
        self.assertRegex(path, r"^/dev/pts/\d+$")
        return process, path

    @staticmethod
    def stop(process):
        if process.poll() is None:
            process.kill()
            process.wait()
        process.stdout.close()
        process.stderr.close()

    def terminate(self, process):
        process.send_signal(signal.SIGTERM)
        status = process.wait(timeout=30)
        self.assertEqual(status, 0, process.stderr.read())

    def wait_for(self, condition, what, timeout=10.0):
        deadline = time.monotonic() + timeout
        while not condition():
            self.assertLess(time.monotonic(), deadline, what)
            time.sleep(0.02)

    def card_holds(self, card, offset, data):
        if not os.path.exists(card):
            return False
        with open(card, "rb") as f:
            f.seek(offset)
            return f.read(len(data)) == data

    def test_answers_erases_and_writes_and_keeps_the_card_in_its_file(self):
        card, log = self.path("card.img"), self.path("sim.log")
        process, path = self.start("--card", card, "--card-size", "256K", "--log", log,
                                   "--firmware", "0203")
        client = Client(path)
        client.send(IDENTITY_REQUEST)
        reply = client.message()
        self.assertEqual(reply[:10], bytes([0xF0, 0x7E, 0x7F, 0x06, 0x02]) + MAKER
                         + bytes([ZELTA, 0x00]))
        self.assertEqual(reply[12:], b"0203\xF7")

        client.send(erase_message(1))  # 0x11, the terminal's XON, is the opcode
        self.assertEqual(client.message(), ACK)
        first = pattern(1)
        client.send(block_message(1, 3, first))
        self.assertEqual(client.message(), ACK)
        # Written over without an erase: refused with reason 4.
        client.send(block_message(1, 3, pattern(2)))
        self.assertEqual(client.message(), bytes([0xF0]) + MAKER + bytes([ZELTA, 0x15, 4, 0xF7]))

        # In the file by the time it is acknowledged, while the sim goes on serving.
        self.assertTrue(self.card_holds(card, SECTOR + 3 * 1024, first))
        self.assertEqual(os.path.getsize(card), 2 * SECTOR)
        self.assertIsNone(process.poll())

        # However the sim ends, even killed outright.
        second = pattern(3)
        client.send(block_message(1, 4, second))
        self.assertEqual(client.message(), ACK)
        client.close()
        process.kill()
        process.wait(timeout=30)
        process.stdout.close()
        process.stderr.close()
        self.assertTrue(self.card_holds(card, SECTOR + 3 * 1024, first + second))
        with open(card, "rb") as f:
            self.assertEqual(f.read(SECTOR), b"\xFF" * SECTOR)

        with open(log) as f:
            lines = f.read().splitlines()
        self.assertEqual(lines[:4], ["#1 received identity request (6 bytes)",
                                     "#1 sent identity reply",
                                     "#2 received erase sector 1 (8 bytes)",
                                     "#2 sent acknowledgement"])
        self.assertEqual(lines[4], "#3 received write block 3 of sector 1 (1181 bytes)")
        self.assertEqual(lines[7], "#4 sent refusal, reason 4")
        self.assertEqual(len(lines), 10)

    def test_a_reply_left_unread_does_not_reach_the_next_program(self):
        log = self.path("sim.log")
        process, path = self.start("--log", log)
        first = Client(path)
        first.send(IDENTITY_REQUEST)

        def replied():
            with open(log) as f:
                return "#1 sent identity reply" in f.read()
        self.wait_for(replied, "the identity request was never answered")
        time.sleep(0.1)  # the reply is in the pty by now
        first.close()
        # The next program starts a moment later (the server needs a fraction of that to see the
        # close; this client, unlike cardmill's own, doesn't flush the pty on opening).
        time.sleep(0.2)

        second = Client(path)
        second.send(erase_message(0))
        self.assertEqual(second.message(), ACK)
        self.assertFalse(second.pending())
        second.close()
        self.terminate(process)

    def test_the_emulated_cable_takes_its_time(self):
        process, path = self.start("--baud", "31250", "--write-ms", "30", "--erase-ms", "50")
        client = Client(path)
        client.send(IDENTITY_REQUEST)
        self.assertEqual(len(client.message()), 17)
        client.send(erase_message(0))
        self.assertEqual(client.message(), ACK)
        # 1181 bytes take 378 ms at 31250 baud, the instrument stores the block for 30 ms, and
        # the acknowledgement takes 2 ms more. Only the lower bound: late is the machine's.
        started = time.monotonic()
        client.send(block_message(0, 0, pattern(4)))
        self.assertEqual(client.message(), ACK)
        self.assertGreaterEqual(time.monotonic() - started, 0.40)
        client.close()
        self.terminate(process)

    def test_refusals_of_the_card(self):
        process, path = self.start("--write-protected", "--fault", "refuse:2:1")
        client = Client(path)
        client.send(erase_message(0))
        self.assertEqual(client.message(), bytes([0xF0]) + MAKER + bytes([ZELTA, 0x15, 2, 0xF7]))
        client.send(erase_message(0))
        self.assertEqual(client.message(), bytes([0xF0]) + MAKER + bytes([ZELTA, 0x15, 1, 0xF7]))
        client.close()
        self.terminate(process)

    def test_usage_and_failures(self):
        result = self.run_cardmill("sim", check=2)
        self.assertIn("port sim", result.stderr)
        result = self.run_cardmill("sim", "--pty", "--baud", "fast", check=2)
        self.assertIn("--baud takes a rate", result.stderr)
        self.run_cardmill("sim", "--pty", "extra", check=2)
        result = self.run_cardmill("sim", "--pty", "--card", self.path("no/card.img"), check=1)
        self.assertIn("does not exist", result.stderr)
        big = self.path("big.img")
        with open(big, "wb") as f:
            f.write(b"\0" * (SECTOR + 1))
        result = self.run_cardmill("sim", "--pty", "--card", big, "--card-size", "128K", check=1)
        self.assertIn("more than the card's", result.stderr)
        self.assertEqual(result.stdout, "")
        self.assertIn("--write-ms", self.run_cardmill("sim", "--help", check=0).stdout)


if __name__ == "__main__":
    unittest.main()
