#!/usr/bin/env python3
"""cardmill unpack of a 16 MB card image (eight sounds, one shared) against cat reading the same
image to /dev/null; prints both times and the ratio (the target: unpack within 5 times cat's
time and under 1 s). The best of several runs of each is taken."""

import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import wave

CARDMILL = sys.argv[1] if len(sys.argv) > 1 else "build/release/src/cardmill"
RUNS = 5
FRAMES = 1_000_000  # eight sounds of 16-bit mono: 16,000,000 bytes of card words


def best_of(command, env, before=None):
    best = None
    for _ in range(RUNS):
        if before:
            before()
        start = time.perf_counter()
        subprocess.run(command, check=True, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        took = time.perf_counter() - start
        best = took if best is None else min(best, took)
    return best


def main():
    with tempfile.TemporaryDirectory(prefix="cardmill-bench-", dir=os.path.dirname(os.path.abspath(CARDMILL))) as folder:
        env = dict(os.environ, CARDMILL_CONFIG_DIR=os.path.join(folder, "config"))
        rng = random.Random(1)
        sounds = []
        for i in range(8):
            path = os.path.join(folder, f"sound{i}.wav")
            with wave.open(path, "wb") as sound:
                sound.setnchannels(1)
                sound.setsampwidth(2)
                sound.setframerate(44100)
                sound.writeframes(rng.randbytes(256) * (FRAMES * 2 // 256))
            sounds.append(path)
        project = os.path.join(folder, "big.cmr")
        subprocess.run([CARDMILL, "new", project, "--card-size", "16M"], check=True, env=env)
        subprocess.run([CARDMILL, "--yes", "add", project, *sounds, sounds[0]], check=True, env=env,
                       stderr=subprocess.DEVNULL)
        image = os.path.join(folder, "big.img")
        subprocess.run([CARDMILL, "--yes", "image", project, "-o", image], check=True, env=env,
                       stderr=subprocess.DEVNULL)
        out = os.path.join(folder, "unpacked")
        unpack_time = best_of([CARDMILL, "-q", "unpack", image, "-o", out], env,
                              lambda: shutil.rmtree(out, ignore_errors=True))
        cat_time = best_of(["cat", image], env)
        ratio = unpack_time / cat_time
        size = os.path.getsize(image)
        print(f"unpack of a {size / 1e6:.1f} MB image: {unpack_time * 1000:.0f} ms; cat to /dev/null: "
              f"{cat_time * 1000:.1f} ms; unpack takes {ratio:.1f}x cat's time (target: 5x at most, under 1 s)")
        return 0 if unpack_time < 1.0 and ratio <= 5 else 1


if __name__ == "__main__":
    sys.exit(main())
