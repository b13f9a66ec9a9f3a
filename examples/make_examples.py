#!/usr/bin/env python3
"""Writes the demo's files with Python's own modules, so the demo needs no committed binaries:
a looped mono WAV with a sampler chunk, a stereo WAV, an AIFF whose "start here" marker gives
the sound its start frame, and a standard MIDI file."""

import math
import os
import struct
import sys
import warnings
import wave

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    import aifc


def tone(frames, rate, freq, decay, channels=1, scale=20000):
    out = bytearray()
    for i in range(frames):
        env = math.exp(-i / (rate * decay))
        for c in range(channels):
            value = int(scale * env * math.sin(2 * math.pi * freq * (1 + 0.01 * c) * i / rate))
            out += struct.pack("<h", value)
    return bytes(out)


def add_smpl(path, root, loop_start, loop_end):
    """Appends a sampler chunk with one forward loop to a finished WAV file."""
    smpl = struct.pack("<9I", 0, 0, 22675, root, 0, 0, 0, 1, 0)
    smpl += struct.pack("<6I", 0, 0, loop_start, loop_end, 0, 0)
    with open(path, "r+b") as f:
        f.seek(0, 2)
        f.write(b"smpl" + struct.pack("<I", len(smpl)) + smpl)
        size = f.tell()
        f.seek(4)
        f.write(struct.pack("<I", size - 8))


def write_wav(path, data, channels, rate):
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(data)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(folder, exist_ok=True)
    rate = 44100

    bass = os.path.join(folder, "bass.wav")
    write_wav(bass, tone(22050, rate, 55.0, 0.8), 1, rate)
    add_smpl(bass, 33, 11025, 22049)

    write_wav(os.path.join(folder, "pad stereo.wav"), tone(33075, rate, 220.0, 2.0, 2), 2, rate)

    with aifc.open(os.path.join(folder, "snare.aif"), "wb") as a:
        a.aiff()  # plain AIFF: aifc writes AIFF-C unless told
        a.setnchannels(1)
        a.setsampwidth(2)
        a.setframerate(22050)
        a.setmark(1, 400, b"start here")
        little = tone(11025, 22050, 180.0, 0.1)
        a.writeframes(struct.pack(">%dh" % 11025, *struct.unpack("<%dh" % 11025, little)))

    write_midi(os.path.join(folder, "groove.mid"))


def write_midi(path):
    """A format 0 file at 96 ticks per quarter: a bass line, its tempo raised halfway."""
    def vlq(value):
        out = [value & 0x7F]
        value >>= 7
        while value:
            out.insert(0, 0x80 | (value & 0x7F))
            value >>= 7
        return bytes(out)

    track = b"\x00\xff\x03\x06Groove"
    notes = [33, 33, 40, 43, 45, 43, 40, 36]
    for i, note in enumerate(notes * 2):
        if i == len(notes):
            track += b"\x00\xff\x51\x03\x06\x1a\x80"  # 400000 us a quarter
        track += b"\x00" + bytes([0x90, note, 100]) + vlq(48) + bytes([0x80, note, 0])
    track += b"\x00\xff\x2f\x00"
    with open(path, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96))
        f.write(b"MTrk" + struct.pack(">I", len(track)) + track)


if __name__ == "__main__":
    main()
