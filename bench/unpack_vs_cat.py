#!/usr/bin/env python3
"""cardmill unpack of a 16 MB card image (eight sounds, one shared) against cat reading the same
image to /dev/null, and against dd reading it, swapping its bytes and writing them to a file once
(what any unpack must do at least); prints the times and ratios. The target: under 1 s and within
5 times cat's time, which the page cache makes shorter than dd's writing alone on some machines:
the run fails only when it is over 1 s or over 5 times dd's time. The best of several runs of
each is taken."""

import os
import random
import shutil
import subprocess
import sys
import tempfile
import wave

from timing import best_of

CARDMILL = sys.argv[1] if len(sys.argv) > 1 else "build/release/src/cardmill"
RUNS = 5
FRAMES = 1_000_000  # eight sounds of 16-bit mono: 16,000,000 bytes of card words


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
        unpack_time = best_of([CARDMILL, "-q", "unpack", image, "-o", out], env, RUNS,
                              lambda: shutil.rmtree(out, ignore_errors=True))
        cat_time = best_of(["cat", image], env, RUNS)
        swapped = os.path.join(folder, "swapped")
        dd_time = best_of(["dd", f"if={image}", f"of={swapped}", "bs=1M", "conv=swab"], env, RUNS,
                          lambda: os.path.exists(swapped) and os.remove(swapped))
        size = os.path.getsize(image)
        print(f"unpack of a {size / 1e6:.1f} MB image: {unpack_time * 1000:.0f} ms; cat to /dev/null: "
              f"{cat_time * 1000:.1f} ms; dd conv=swab to a file: {dd_time * 1000:.1f} ms")
        print(f"unpack takes {unpack_time / cat_time:.1f}x cat's time (target: 5x at most, under 1 s); "
              f"dd alone takes {dd_time / cat_time:.1f}x; unpack takes {unpack_time / dd_time:.1f}x dd's")
        return 0 if unpack_time < 1.0 and unpack_time <= 5 * dd_time else 1

if __name__ == "__main__":
    sys.exit(main())
