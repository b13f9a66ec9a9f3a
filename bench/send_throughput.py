#!/usr/bin/env python3
"""cardmill send-image end to end, the whole transfer driver included, against the virtual
instrument: in-process and through a pty to `cardmill sim --pty`, as fast as the link allows and
over an emulated 31250-baud MIDI cable. Prints the card data speed of each and its ratio to its
target: at least 20 MB/s in-process and 5 MB/s over the pty without a cable; over the cable at
least 97% of the protocol's limit (1024 data bytes per 1181-byte message and 7-byte
acknowledgement, 10 bits a byte: about 2694 bytes/s). Times count the whole command (start-up
and identification included), so the ratios are if anything low."""

import os
import signal
import subprocess
import sys
import tempfile
import time

CARDMILL = sys.argv[1] if len(sys.argv) > 1 else "build/release/src/cardmill"
WIRE_LIMIT = 1024 / ((1181 + 7) * 10 / 31250)


def send(image, port, env):
    start = time.perf_counter()
    subprocess.run([CARDMILL, "--yes", "send-image", image, "--port", port], check=True, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def best_send(image, port, env, runs):
    return min(send(image, port, env) for _ in range(runs))


def with_pty(env, *options):
    sim = subprocess.Popen([CARDMILL, "sim", "--pty", "--card-size", "16M", *options],
                           stdout=subprocess.PIPE, text=True, env=env)
    return sim, sim.stdout.readline().strip()


def report(name, size, seconds, target, unit):
    speed = size / seconds
    shown = speed / 1e6 if unit == "MB/s" else speed
    wanted = target / 1e6 if unit == "MB/s" else target
    ratio = speed / target
    verdict = "ok" if ratio >= 1 else "BELOW TARGET"
    if unit == "B/s":
        verdict += f" ({speed / WIRE_LIMIT:.1%} of the cable's limit)"
    print(f"{name:<34} {shown:10.2f} {unit:<7} target {wanted:8.2f}  ratio {ratio:5.2f}  {verdict}")
    return ratio >= 1


def main():
    ok = True
    with tempfile.TemporaryDirectory(prefix="cardmill-bench-") as folder:
        env = dict(os.environ, CARDMILL_CONFIG_DIR=os.path.join(folder, "config"))
        big = os.path.join(folder, "big.img")
        with open(big, "wb") as f:
            f.write(bytes((i * 7 + i // 1024) & 0xFF for i in range(16 * 1024 * 1024)))
        small = os.path.join(folder, "small.img")
        with open(small, "wb") as f:
            f.write(bytes((i * 7) & 0xFF for i in range(64 * 1024)))

        print(f"{'link':<34} {'speed':>10}")
        seconds = best_send(big, "sim --card-size 16M", env, 3)
        ok &= report("in-process, no cable (16 MB)", 16 * 1024 * 1024, seconds, 20e6, "MB/s")

        sim, port = with_pty(env)
        try:
            seconds = best_send(big, port, env, 3)
        finally:
            sim.send_signal(signal.SIGTERM)
            sim.wait(timeout=60)
        ok &= report("pty, no cable (16 MB)", 16 * 1024 * 1024, seconds, 5e6, "MB/s")

        seconds = send(small, "sim --baud 31250", env)
        ok &= report("in-process, 31250 baud (64 KB)", 64 * 1024, seconds, 0.97 * WIRE_LIMIT, "B/s")

        sim, port = with_pty(env, "--baud", "31250")
        try:
            seconds = send(small, port, env)
        finally:
            sim.send_signal(signal.SIGTERM)
            sim.wait(timeout=60)
        ok &= report("pty, 31250 baud (64 KB)", 64 * 1024, seconds, 0.97 * WIRE_LIMIT, "B/s")
        print(f"(the cable's limit for card data is {WIRE_LIMIT:.1f} B/s; its target is 97% of it)")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
