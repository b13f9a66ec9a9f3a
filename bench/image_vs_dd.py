#!/usr/bin/env python3
"""cardmill image on a project of 16 MB of sample data against dd writing the same number of bytes
to the same folder; prints both times and the speed ratio (the target is at least 0.5: the image
written at no less than half dd's speed). The best of several runs of each is taken."""

import json
import os
import subprocess
import sys
import tempfile
import wave

from timing import best_of

CARDMILL = sys.argv[1] if len(sys.argv) > 1 else "build/release/src/cardmill"
RUNS = 9
FRAMES = 4_000_000  # two sounds of 16-bit mono: 16,000,000 bytes of card words in all


def main():
    with tempfile.TemporaryDirectory(prefix="cardmill-bench-", dir=os.path.dirname(os.path.abspath(CARDMILL))) as folder:
        env = dict(os.environ, CARDMILL_CONFIG_DIR=os.path.join(folder, "config"))
        sounds = []
        for i in range(2):
            path = os.path.join(folder, f"long{i}.wav")
            with wave.open(path, "wb") as sound:
                sound.setnchannels(1)
                sound.setsampwidth(2)
                sound.setframerate(44100)
                sound.writeframes(bytes((j * 7 + i) & 0xFF for j in range(256)) * (FRAMES * 2 // 256))
            sounds.append(path)
        project = os.path.join(folder, "big.cmr")
        subprocess.run([CARDMILL, "new", project, "--card-size", "16M"], check=True, env=env)
        subprocess.run([CARDMILL, "--yes", "add", project, *sounds], check=True, env=env, stderr=subprocess.DEVNULL)
        listing = json.loads(subprocess.run([CARDMILL, "--json", "list", project], check=True, env=env,
                                            capture_output=True, text=True).stdout)
        size = listing["totalBytes"]
        image = os.path.join(folder, "big.img")
        image_time = best_of([CARDMILL, "image", project, "-o", image], env, RUNS)
        assert os.path.getsize(image) == size
        copy = os.path.join(folder, "dd.out")
        dd_time = best_of(["dd", "if=/dev/zero", f"of={copy}", "bs=1M", f"count={size}", "iflag=count_bytes"], env, RUNS)
        ratio = dd_time / image_time
        print(f"image of {size} bytes: cardmill image {image_time * 1000:.1f} ms (project loading included), "
              f"dd bs=1M {dd_time * 1000:.1f} ms")
        print(f"speed of cardmill image / speed of dd = {ratio:.2f} (target >= 0.50)")
        return 0 if ratio >= 0.5 else 1


if __name__ == "__main__":
    sys.exit(main())
