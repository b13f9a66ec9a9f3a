"""cardmill sim --pty: the virtual instrument on a pseudo-terminal, talked to from Python as a raw
MIDI device with messages built here, independently of the program's own SysEx code."""

import os
import select
import signal
import termios
import time
import unittest

from cardmill_e2e import (ACK, IDENTITY_REQUEST, MAKER, SECTOR, CardmillTestCase, SimProcess, block_message,
                          erase_message, read)


def refusal(reason):
    return b"\xf0" + MAKER + bytes((0x0E, 0x15, reason, 0xF7))


def pattern(seed):
    # Every byte value in play, 0x0D, 0x11 and 0x13 among them.
    return bytes((i * 37 + seed * 101 + (i >> 8)) & 0xFF for i in range(1024))


class Client:
    """One program's use of the pty: opened, made raw (no echo, no CR/LF mapping, no XON/XOFF),
    without flushing what may wait in it, so that the server's own care is what is tested."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        mode = termios.tcgetattr(self.fd)
        mode[0] = mode[1] = mode[3] = 0  # iflag, oflag, lflag
        mode[2] = (mode[2] & ~termios.CSIZE) | termios.CS8 | termios.CREAD | termios.CLOCAL
        mode[6][termios.VMIN] = 1
        mode[6][termios.VTIME] = 0
        termios.tcsetattr(self.fd, termios.TCSANOW, mode)

    def ask(self, message, timeout=5.0):
        """Sends a message; the next complete reply (F0 ... F7), or what came before the time ran out."""
        os.write(self.fd, message)
        got = b""
        deadline = time.monotonic() + timeout
        while not got.endswith(b"\xF7"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                break
            got += os.read(self.fd, 1)
        return got


class Sim(CardmillTestCase):
    def test_answers_erases_and_writes_and_keeps_the_card_in_its_file(self):
        sim = SimProcess(self, "--card-size", "256K", "--firmware", "0203")
        client = Client(sim.port)
        reply = client.ask(IDENTITY_REQUEST)
        self.assertEqual(reply[:10], bytes([0xF0, 0x7E, 0x7F, 0x06, 0x02]) + MAKER + bytes([0x0E, 0x00]))
        self.assertEqual(reply[12:], b"0203\xF7")
        self.assertEqual(client.ask(erase_message(1)), ACK)  # 0x11, the terminal's XON, is the opcode
        first = pattern(1)
        self.assertEqual(client.ask(block_message(1, 3, first)), ACK)
        # Written over without an erase: refused with reason 4.
        self.assertEqual(client.ask(block_message(1, 3, pattern(2))), refusal(4))

        # In the file by the time it is acknowledged, while the sim goes on serving.
        self.assertEqual(read(sim.card)[SECTOR + 3 * 1024:][:1024], first)
        self.assertEqual(os.path.getsize(sim.card), 2 * SECTOR)
        self.assertIsNone(sim.process.poll())

        # However the sim ends, even killed outright.
        second = pattern(3)
        self.assertEqual(client.ask(block_message(1, 4, second)), ACK)
        os.close(client.fd)
        sim.stop(signal.SIGKILL)
        card = read(sim.card)
        self.assertEqual(card[SECTOR + 3 * 1024:][:2048], first + second)
        self.assertEqual(card[:SECTOR], b"\xFF" * SECTOR)

        lines = read(sim.log).decode().splitlines()
        self.assertEqual(lines[:5], ["#1 received identity request (6 bytes)", "#1 sent identity reply",
                                     "#2 received erase sector 1 (8 bytes)", "#2 sent acknowledgement",
                                     "#3 received write block 3 of sector 1 (1181 bytes)"])
        self.assertEqual(lines[7], "#4 sent refusal, reason 4")
        self.assertEqual(len(lines), 10)

    def test_a_reply_left_unread_does_not_reach_the_next_program(self):
        sim = SimProcess(self)
        first = Client(sim.port)
        os.write(first.fd, IDENTITY_REQUEST)
        deadline = time.monotonic() + 10
        while b"#1 sent identity reply" not in read(sim.log):
            self.assertLess(time.monotonic(), deadline, "the identity request was never answered")
            time.sleep(0.02)
        time.sleep(0.1)  # the reply is in the pty by now
        os.close(first.fd)
        # The next program starts a moment later (the server needs a fraction of that to see the
        # close; this client, unlike cardmill's own, doesn't flush the pty on opening).
        time.sleep(0.2)
        second = Client(sim.port)
        self.assertEqual(second.ask(erase_message(0)), ACK)
        self.assertFalse(select.select([second.fd], [], [], 0.2)[0])
        os.close(second.fd)
        self.assertEqual(sim.stop(), 0)

    def test_the_emulated_cable_takes_its_time_and_the_card_refuses(self):
        sim = SimProcess(self, "--baud", "31250", "--write-ms", "30", "--erase-ms", "50")
        client = Client(sim.port)
        self.assertEqual(len(client.ask(IDENTITY_REQUEST)), 17)
        self.assertEqual(client.ask(erase_message(0)), ACK)
        # 1181 bytes take 378 ms at 31250 baud, the instrument stores the block for 30 ms, and
        # the acknowledgement takes 2 ms more. Only the lower bound: late is the machine's.
        started = time.monotonic()
        self.assertEqual(client.ask(block_message(0, 0, pattern(4))), ACK)
        self.assertGreaterEqual(time.monotonic() - started, 0.40)
        os.close(client.fd)
        self.assertEqual(sim.stop(), 0)

        sim = SimProcess(self, "--write-protected", "--fault", "refuse:2:1", card="protected.bin")
        client = Client(sim.port)
        self.assertEqual(client.ask(erase_message(0)), refusal(2))
        self.assertEqual(client.ask(erase_message(0)), refusal(1))
        os.close(client.fd)
        self.assertEqual(sim.stop(), 0)

    def test_usage_and_failures(self):
        # One of each kind: the checks themselves are the virtual instrument's unit tests'.
        self.write("big.img", b"\0" * (SECTOR + 1))
        for args, status, message in (
                ((), 2, "port sim"),
                (("--pty", "--baud", "fast"), 2, "--baud takes a rate"),
                (("--pty", "--card", self.path("big.img"), "--card-size", "128K"), 1, "more than the card's")):
            with self.subTest(args=args):
                result = self.run_cardmill("sim", *args, check=status)
                self.assertIn(message, result.stderr)
                self.assertEqual(result.stdout, "")


if __name__ == "__main__":
    unittest.main()
