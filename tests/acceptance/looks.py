"""What a screenshot shows where OCR's words are not enough: where a word stands, and the colours
of a part of it. Files for the tests are made here too."""

import os
import struct
import subprocess


def write_wav(path, root=None, comment=None, frames=2205):
    """A short mono 16-bit WAV; with `root` a sampler chunk giving that root key, with `comment`
    an INFO comment."""
    data = b"".join(struct.pack("<h", (i * 97 % 2000) - 1000) for i in range(frames))
    chunks = [b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, 22050, 44100, 2, 16),
              b"data" + struct.pack("<I", len(data)) + data]
    if root is not None:
        smpl = struct.pack("<9I", 0, 0, 45351, root, 0, 0, 0, 0, 0)
        chunks.append(b"smpl" + struct.pack("<I", len(smpl)) + smpl)
    if comment is not None:
        text = comment.encode("latin-1") + b"\0"
        text += b"\0" * (len(text) % 2)
        info = b"INFO" + b"ICMT" + struct.pack("<I", len(text)) + text
        chunks.append(b"LIST" + struct.pack("<I", len(info)) + info)
    body = b"WAVE" + b"".join(chunks)
    with open(path, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", len(body)) + body)


def pixels(shot, x, y, width, height):
    """The pixels of a rectangle of a screenshot, row by row, as (r, g, b)."""
    ppm = subprocess.run(["convert", shot, "-crop", f"{width}x{height}+{x}+{y}", "+repage",
                          "-depth", "8", "ppm:-"], capture_output=True, check=True).stdout
    # P6, width, height, maxval, each after one whitespace; no comments from convert.
    fields = ppm.split(maxsplit=4)
    w, h, data = int(fields[1]), int(fields[2]), fields[4]
    return [tuple(data[i:i + 3]) for i in range(0, 3 * w * h, 3)], w, h


def geometry(desktop, window):
    """Left, top, width and height of a window on the screen."""
    out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(window)],
                         env=desktop.env, capture_output=True, text=True).stdout
    values = dict(line.split("=") for line in out.split())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def read_box(shot, x, y, width, height, scale=3):
    """The text tesseract reads in a rectangle of a screenshot."""
    part = shot[:-4] + f"-{x}-{y}.png"
    subprocess.run(["convert", shot, "-crop", f"{width}x{height}+{x}+{y}", "+repage", "-scale",
                    f"{scale * 100}%", part], check=True)
    text = subprocess.run(["tesseract", part, "-", "--psm", "6"], capture_output=True,
                          text=True).stdout
    os.remove(part)
    return " ".join(text.split())


def words(shot, scale=3):
    """Every word tesseract reads, with its box in the screenshot's pixels: (text, left, top,
    width, height)."""
    scaled = shot[:-4] + "-words.png"
    subprocess.run(["convert", shot, "-scale", f"{scale * 100}%", scaled], check=True)
    tsv = subprocess.run(["tesseract", scaled, "-", "--psm", "11", "tsv"], capture_output=True,
                         text=True).stdout
    os.remove(scaled)
    found = []
    for line in tsv.splitlines()[1:]:
        cells = line.split("\t")
        if len(cells) == 12 and cells[11].strip():
            left, top, width, height = (int(c) // scale for c in cells[6:10])
            found.append((cells[11].strip(), left, top, width, height))
    return found
