#!/usr/bin/env python3
"""Writes small, valid seed inputs for a fuzz target into a folder, so the fuzzer starts from
files that reach deep into the reader."""

import os
import struct
import sys


def chunk(cid, body, little):
    size = struct.pack("<I" if little else ">I", len(body))
    pad = b"\0" if len(body) % 2 else b""
    return cid + size + body + pad


def form(fid, ftype, chunks, little=False):
    body = ftype + b"".join(chunks)
    return fid + struct.pack("<I" if little else ">I", len(body)) + body


def wav_seeds():
    fmt = struct.pack("<HHIIHH", 1, 2, 44100, 176400, 4, 16)
    smpl = struct.pack("<9I", 0, 0, 22675, 60, 0x80000000, 0, 0, 2, 0)
    smpl += struct.pack("<6I", 0, 1, 10, 90, 0, 0) + struct.pack("<6I", 1, 0, 20, 80, 0, 0)
    info = b"INFO" + chunk(b"ICMT", b"seed comment\0", True)
    data = bytes(range(256)) * 2
    yield "stereo16.wav", form(b"RIFF", b"WAVE", [chunk(b"fmt ", fmt, True), chunk(b"smpl", smpl, True),
                                                   chunk(b"LIST", info, True), chunk(b"data", data, True)], True)
    fmt8 = struct.pack("<HHIIHH", 1, 1, 8000, 8000, 1, 8)
    yield "mono8.wav", form(b"RIFF", b"WAVE", [chunk(b"fmt ", fmt8, True), chunk(b"data", data[:101], True)], True)
    ext = struct.pack("<HHIIHHHHI", 0xFFFE, 1, 48000, 144000, 3, 24, 22, 24, 4) + struct.pack("<H", 1) + bytes(14)
    yield "ext24.wav", form(b"RIFF", b"WAVE", [chunk(b"fmt ", ext, True), chunk(b"data", data[:300], True)], True)
    # A file a fit made, naming its original; the target also reads the whole input as an origin.
    path = b"/music/kit.sf2#sample=3"
    origin = struct.pack("<HHdddQQI", 1, 0, 48000.0, 12.5, 3.0, 100000, 0x1234, len(path)) + path
    yield "fitted.wav", form(b"RIFF", b"WAVE", [chunk(b"fmt ", fmt8, True), chunk(b"cmfo", origin, True),
                                                 chunk(b"data", data[:101], True)], True)
    yield "origin", origin


def sndfile_seeds():
    """Small files of every format libsndfile reads for us, made by sox and flac from a WAV."""
    import subprocess
    import tempfile
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "source.wav")
        with open(source, "wb") as f:
            f.write(next(wav_seeds())[1])
        made = [("mono16.flac", ["sox", source, "-c", "1", "-b", "16"]),
                ("stereo24.flac", ["sox", source, "-b", "24"]),
                ("vorbis.ogg", ["sox", source, "-C", "0"]),
                ("wave64.w64", ["sox", source]),
                ("apple.caf", ["sox", source]),
                ("floats.wav", ["sox", source, "-e", "floating-point", "-b", "32"])]
        for name, command in made:
            out = os.path.join(folder, name)
            subprocess.run(command + [out], check=True, capture_output=True)
        # A FLAC that keeps the WAV's sampler chunk among its RIFF chunks.
        kept = os.path.join(folder, "kept.flac")
        subprocess.run(["flac", "--silent", "--no-padding", "--keep-foreign-metadata", "-o", kept, source],
                       check=True, capture_output=True)
        for name in [name for name, _ in made] + ["kept.flac"]:
            with open(os.path.join(folder, name), "rb") as f:
                yield name, f.read()


def extended(rate):
    import math
    mant, exp = math.frexp(rate)
    return struct.pack(">HQ", 16383 + exp - 1, int(mant * (1 << 64)))


def aiff_seeds():
    comm = struct.pack(">HIH", 1, 200, 16) + extended(44100)
    inst = struct.pack(">bbbbbbhhhhhhh", 60, -3, 0, 127, 1, 127, -2, 1, 1, 2, 2, 3, 4)
    mark = struct.pack(">H", 4)
    for mid, pos, name in ((1, 10, b"a"), (2, 100, b"loop end"), (3, 5, b"start here"), (4, 150, b"#7 tag")):
        entry = struct.pack(">HIB", mid, pos, len(name)) + name
        mark += entry + (b"\0" if len(name) % 2 == 0 else b"")
    comt = struct.pack(">HIHH", 1, 0, 0, 7) + b"comment"
    appl = b"Sd2a" + bytes(10) + b"\x04text"
    ssnd = struct.pack(">II", 0, 0) + bytes(range(256)) * 2
    yield "full.aif", form(b"FORM", b"AIFF", [chunk(b"COMM", comm, False), chunk(b"INST", inst, False),
                                              chunk(b"MARK", mark, False), chunk(b"COMT", comt, False),
                                              chunk(b"APPL", appl, False), chunk(b"SSND", ssnd, False)])
    comm8 = struct.pack(">HIH", 2, 50, 8) + extended(22050)
    yield "stereo8.aif", form(b"FORM", b"AIFF", [chunk(b"COMM", comm8, False), chunk(b"SSND", ssnd[:108], False)])


def sd_seeds():
    header = bytearray(1336)
    struct.pack_into(">H", header, 0, 1336)
    for slot in range(10):
        header[348 + 40 * slot] = 0xFF
    header[348] = 0
    struct.pack_into(">I", header, 350, 40)
    header[354] = 10
    header[355:365] = b"start here"
    struct.pack_into(">ii", header, 752, 100, 400)
    struct.pack_into(">ii", header, 1324, 10, 20)
    header[1332] = 1
    header[1333] = 2
    header[763] = 4
    header[764:768] = b"note"
    struct.pack_into(">i", header, 1020, 22050)
    yield "basic.sd", bytes(header) + bytes(range(256)) * 2


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def midi_file(fmt, division, tracks):
    out = b"MThd" + struct.pack(">IHHH", 6, fmt, len(tracks), division)
    for track in tracks:
        out += b"MTrk" + struct.pack(">I", len(track)) + track
    return out


def midi_seeds():
    notes = b"\x00\x90\x3c\x64" + vlq(96) + b"\x3e\x64" + b"\x00\xff\x51\x03\x07\xa1\x20"
    notes += b"\x10\xc0\x05\x05\xd0\x20\x00\xf0\x05\x01\x02\x03\x04\xf7\x00\xff\x03\x02ab"
    notes += vlq(1 << 20) + b"\x80\x3c\x00\x00\xff\x2f\x00"
    yield "format0.mid", midi_file(0, 96, [notes])
    named = b"\x00\xff\x03\x04name\x00\xf2\x01\x02\x00\xf7\x02\x01\x02\x00\xff\x2f\x00"
    yield "format1.mid", midi_file(1, 960, [named, notes])


def bank_seeds():
    # Laid over a valid capture: family byte, a three-byte offset, then bytes to lay down.
    yield "zelta_a.bin", bytes([0, 0, 0, 7]) + bytes(range(1, 120))
    yield "zelta_d.bin", bytes([0, 1, 0x36, 0x58]) + b"\xf0\x00\x00\x0e\x0e"
    yield "percula_c.bin", bytes([1, 0, 0x6c, 0x07]) + bytes(range(0, 128, 3))


def stored_record(path):
    name = path.rsplit("/", 1)[-1].encode()
    rec = b"MDOS" + struct.pack("<hI", -1, 0)
    rec += bytes([len(name)]) + name + bytes(63 - len(name))
    rec += bytes(28) + struct.pack("<I", 0) + b"MDOS" + struct.pack("<H", 0)
    p = path.encode()
    rec += bytes([len(p)]) + p + bytes(259 - len(p))
    return rec


def cmt_file(groups, size, keys, samples, version=(3, 0)):
    inst = bytes([groups - 1, size - 1, 0, 0]) + bytes(keys) + bytes(128 - len(keys))
    inst += struct.pack(">IH", 5000, len(samples))
    for path, looping in samples:
        inst += stored_record(path) + bytes([0, 1, 60, 12, 0, 200, 1, looping])
        inst += struct.pack(">III", 4, 40, 2)
    body = b"CMin" + b"VERS" + struct.pack(">I", 2) + bytes(version) + b"INST" + struct.pack(">I", len(inst)) + inst
    return b"ORCM" + struct.pack(">I", 0) + body


def cmt_seeds():
    yield "three.cmt", cmt_file(3, 1, [60, 90, 127], [("/s/a.wav", 0), ("/s/b.wav", 1), ("/s/c.wav", 0)])
    yield "layers.cmt", cmt_file(2, 2, [64, 127], [("/s/a.wav", 1)] * 4, (2, 99))


def samplecell(pc, code, maps, files, samples):
    order = "<" if pc else ">"
    if pc:
        lst = bytes(4) + b"".join(struct.pack("<I", len(f)) + f.encode() for f in files)
    else:
        lst = bytes(4) + struct.pack(">I", 72)
        for f in files:
            rec = bytes(28) + struct.pack(">I", 7) + bytes([len(f)]) + f.encode()
            rec += bytes(64 - len(rec)) + struct.pack(">I", 99) + bytes(4)
            lst += rec
    table = bytes(4) + struct.pack(order + "II", 64, 12345)
    for fi, ch, start, fine, loop, tune in samples:
        rec = struct.pack(order + "I", fi) + bytes(4) + struct.pack(order + "H", ch) + bytes(40)
        rec += struct.pack(order + "IH", start, fine) + bytes(4) + struct.pack(order + "HH", loop, tune)
        table += rec
    keys = struct.pack(order + "HHH", len(maps), 6, 14)
    for top, zones in maps:
        keys += struct.pack(order + "HHH", top << 8, 0, len(zones))
        for sample, layer, level, offset, root in zones:
            keys += struct.pack(order + "IIHHHHH", sample, 0, layer, level, 0, offset, root)
    little = pc
    chunks = [chunk(b"FPTH" if pc else b"FILP", lst, little), chunk(b"KeyS", table, little),
              chunk(b"KeyP", keys, little), chunk(b"ANNO", b"seed", little)]
    return form(b"RIFF" if pc else b"FORM", code, chunks, little)


def samplecell_seeds(pc):
    files = ["C:\\S\\a.wav", "C:\\S\\b.wav"] if pc else ["a.wav", "b.wav"]
    samples = [(0, 1, 0, 63, 1, 64), (1, 2, 100, 70, 0, 63)]
    yield "one.ins", samplecell(pc, b"SCin", [(127, [(0, 0, 99, 0, 60)])], files, samples)
    yield "two.ins", samplecell(pc, b"SCsi", [(60, [(0, 0, 80, 1, 48), (1, 9, 99, 0, 50)]),
                                               (127, [(1, 0, 50, 0, 72), (0, 9, 10, 0, 70)])], files, samples)
    yield "three.ins", samplecell(pc, b"SCss", [(40, [(0, 0, 99, 0, 40), (1, 4, 90, 0, 41), (0, 10, 80, 0, 42)]),
                                                 (127, [(1, 0, 70, 0, 60)])], files, samples)


def project_file(version, groups, sequences, programs, target=14):
    chdr = bytes([4]) + b"Seed" + bytes(7) + bytes([4]) + b"1.00" + bytes(1) + bytes([0, 3]) + struct.pack(">H", target)
    chunks = [chunk(b"VERS", bytes(version), False), chunk(b"CHDR", chdr, False)]
    for g, items in enumerate(groups):
        body = bytes([6]) + b"group" + bytes([ord("0") + g]) + struct.pack(">HH", len(items), g)
        for path, edited in items:
            rec = stored_record(path) + bytes([8]) + b"short" + b"ab" + b"c" + bytes(3)
            rec += struct.pack(">I", 0xFFFFFF00 if edited else 0) + bytes([1, 1, 0, 0]) + bytes([0x80] * 128)
            rec += struct.pack(">H", 1 if edited else 0)
            if edited:
                rec += stored_record(path) + bytes([0, 1, 60, 12, 0, 200, 1, 1]) + struct.pack(">III", 4, 40, 2)
            body += rec
        chunks.append(chunk(b"VGRP", body, False))
    seq = struct.pack(">H", len(sequences)) + b"".join(stored_record(p) + struct.pack(">H", 1) for p in sequences)
    chunks.append(chunk(b"SGRP", seq, False))
    prog = struct.pack(">H", len(programs)) + b"".join(stored_record(p) for p in programs)
    chunks.append(chunk(b"PGRP", prog, False))
    return form(b"ORCM", b"CMpj", chunks)


def project_seeds():
    groups = [[("/s/a.wav", True), ("/s/b.wav", False)], [], [("/s/c.wav", True)]] + [[]] * 8
    yield "v3.cmr", project_file((3, 0), groups, ["/m/song.mid"], ["/b/bank.syx"])
    yield "v25.cmr", project_file((2, 0x50), [[]] * 11, [], [])


def both_layouts():
    for pc in (False, True):
        for name, data in samplecell_seeds(pc):
            yield ("pc-" if pc else "second-") + name, data


def sysex_seeds():
    """The messages a transfer sends: identity request, erase, a block write (zero data), and the
    replies, in one stream; the first byte picks the instrument's options."""
    maker = bytes([0x00, 0x00, 0x0E])
    identity = bytes([0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7])
    erase = bytes([0xF0]) + maker + bytes([0x0E, 0x11, 0x00, 0xF7])
    packed = bytes(1171)
    block = bytes([0xF0]) + maker + bytes([0x0E, 0x12, 0x00, 0x01]) + packed + bytes([1, 0xF7])
    reply = bytes([0xF0, 0x7E, 0x7F, 0x06, 0x02]) + maker + bytes([0x0E, 0, 1, 0]) + b"0100" + bytes([0xF7])
    ack = bytes([0xF0]) + maker + bytes([0x0E, 0x14, 0xF7])
    for choice in (0, 1, 0x23, 0xE0):
        yield f"transfer-{choice:02x}", bytes([choice]) + identity + erase + block + block
    yield "replies", bytes([0]) + reply + ack


def sfz_seeds():
    """Every header, opcode and directive the reader takes; the fuzz target's #include reads the
    input itself, so includes recurse until the reader's bounds stop them."""
    yield "full.sfz", (b"#define $ROOT 60\n#include \"self.sfz\"\n<control> default_path=Samples\\Piano/\n"
                       b"<global> volume=-3 ampeg_release=0.4\n<master> tune=5\n"
                       b"<group> lokey=c4 hikey=b4 pitch_keycenter=$ROOT transpose=1\n"
                       b"<region> sample=a b.wav lovel=1 hivel=63 offset=10 loop_mode=loop_continuous "
                       b"loop_start=4 loop_end=90\n<region> sample=c.wav lovel=64 hivel=127 loop_mode=one_shot\n"
                       b"/* block\ncomment */ <region> key=72 sample=d.wav loop_mode=loop_sustain tune=-150\n")
    yield "layers.sfz", b"".join(b"<region> lokey=%d hikey=%d lovel=%d hivel=%d sample=s%d.wav\n"
                                 % (k * 10, k * 10 + 9, v * 32 + 1, v * 32 + 32, k) for k in range(12) for v in range(4))


def soundfont(samples=2, sm24=False, stereo=False):
    """A SoundFont of two presets (a keyboard with a global zone, two key ranges and two velocity
    layers; a drum kit) over `samples` looped samples of 64 frames; with `stereo`, a third preset
    (0:1, "Pad") plays a stereo sample: a left and a right side linked to each other, of unlike
    sounds, in two zones panned hard left and right."""
    le = lambda fmt, *values: struct.pack("<" + fmt, *values)
    frames = 64
    # Each sample with the 46 frames that follow it.
    sounds = [[(i * 977 + s * 3000) % 30000 - 15000 for i in range(frames + 46)] for s in range(samples)]
    if stereo:
        sounds += [[(i * 1500) % 20000 - 10000 for i in range(frames)] + [0] * 46,
                   [(i * i * 37) % 24000 - 12000 for i in range(frames)] + [0] * 46]
    smpl = b"".join(le("h", v) for sound in sounds for v in sound)
    sdta = [chunk(b"smpl", smpl, True)] + ([chunk(b"sm24", bytes(range(256))[:len(smpl) // 2], True)] if sm24 else [])
    gen = lambda oper, amount: le("Hh", oper, amount)
    rng = lambda oper, lo, hi: le("HBB", oper, lo, hi)
    # instrument 0: a global zone (attenuation, a filter), then two zones; instrument 1: one zone
    igen = [gen(48, 60), gen(8, 9000),
            rng(43, 0, 59), rng(44, 0, 90), gen(58, 60), gen(52, -7), gen(54, 1), gen(53, 0),
            rng(43, 0, 59), rng(44, 91, 127), gen(51, 2), gen(54, 1), gen(53, samples - 1),
            rng(43, 60, 127), gen(0, 4), gen(54, 0), gen(53, 0),
            rng(43, 36, 36), gen(17, 200), gen(53, samples - 1)]
    ibag = le("HH", 0, 0) + le("HH", 2, 0) + le("HH", 8, 0) + le("HH", 13, 1) + le("HH", 17, 1)
    inst = b"Keys".ljust(20, b"\0") + le("H", 0) + b"Drum".ljust(20, b"\0") + le("H", 4)
    pgen = [gen(41, 0), rng(43, 24, 96), gen(41, 1)]
    phdr = (b"Grand".ljust(20, b"\0") + le("HHH", 0, 0, 0) + bytes(12)
            + b"Kit".ljust(20, b"\0") + le("HHH", 0, 128, 2) + bytes(12))
    if stereo:  # instrument 2, preset 0:1
        igen += [gen(17, -500), gen(54, 1), gen(53, samples), gen(17, 500), gen(54, 1), gen(53, samples + 1)]
        ibag += le("HH", 20, 1) + le("HH", 23, 1)
        inst += b"Pad".ljust(20, b"\0") + le("H", 5)
        pgen += [gen(41, 2)]
        phdr += b"Pad".ljust(20, b"\0") + le("HHH", 1, 0, 3) + bytes(12)
    ibag += le("HH", len(igen), 1)
    imod = le("HHhHH", 0x0502, 48, 960, 0, 0) + bytes(10)
    inst += b"EOI".ljust(20, b"\0") + le("H", len(ibag) // 4 - 1)
    pbag = b"".join(le("HH", z, 0) for z in range(len(pgen) + 1))
    phdr += b"EOP".ljust(20, b"\0") + le("HHH", 0, 0, len(pgen)) + bytes(12)
    shdr = b""
    for s in range(len(sounds)):
        start = s * (frames + 46)
        side = s - samples  # 0 the left, 1 the right side of the stereo sample
        kind, link = ((4, samples + 1) if side == 0 else (2, samples)) if side >= 0 else (1, 0)
        name = (("Tone %d" % s) if side < 0 else "Pad " + "LR"[side]).encode()
        shdr += (name.ljust(20, b"\0") + le("5I", start, start + frames, start + 8, start + 56, 22050)
                 + le("BbHH", 60 + s if side < 0 else 60, -3 if side < 0 else 0, link, kind))
    shdr += b"EOS".ljust(46, b"\0")
    pdta = [chunk(b"phdr", phdr, True), chunk(b"pbag", pbag, True), chunk(b"pmod", bytes(10), True),
            chunk(b"pgen", b"".join(pgen) + bytes(4), True), chunk(b"inst", inst, True), chunk(b"ibag", ibag, True),
            chunk(b"imod", imod, True), chunk(b"igen", b"".join(igen) + bytes(4), True), chunk(b"shdr", shdr, True)]
    info = b"INFO" + chunk(b"ifil", le("HH", 2, 4), True) + chunk(b"INAM", b"Seed\0", True)
    return form(b"RIFF", b"sfbk", [chunk(b"LIST", info, True), chunk(b"LIST", b"sdta" + b"".join(sdta), True),
                                   chunk(b"LIST", b"pdta" + b"".join(pdta), True)], True)


def soundfont_seeds():
    yield "two-presets.sf2", soundfont()
    yield "deep.sf2", soundfont(samples=1, sm24=True)
    yield "stereo.sf2", soundfont(stereo=True)
    import subprocess
    import tempfile
    with tempfile.TemporaryDirectory() as folder:
        tool = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e", "sf3_from_sf2.py")
        for name, font in (("vorbis.sf3", soundfont()), ("stereo-vorbis.sf3", soundfont(stereo=True))):
            source, made = os.path.join(folder, "in.sf2"), os.path.join(folder, "out.sf3")
            with open(source, "wb") as f:
                f.write(font)
            subprocess.run(["/usr/bin/python3", tool, source, made], check=True)
            with open(made, "rb") as f:
                yield name, f.read()


def decentsampler_seeds():
    yield "layers.dspreset", b"""<?xml version="1.0" encoding="UTF-8"?>
<DecentSampler minVersion="1.0.0">
  <groups attack="0.01" volume="-3dB">
    <group name="soft" hiVel="80" tuning="0.25">
      <sample path="Samples/lo.wav" rootNote="45" loNote="0" hiNote="52"/>
      <sample path="Samples\\mid.wav" rootNote="A3" loNote="53" hiNote="127" loopEnabled="true" loopStart="100" loopEnd="2000"/>
    </group>
    <group loVel="81" enabled="true">
      <sample path="hi.wav" rootNote="69" volume="0.5" pan="20" start="10"><binding/></sample>
    </group>
  </groups>
  <effects><effect type="reverb"/></effects>
</DecentSampler>
"""
    yield "broken.dspreset", b"<DecentSampler><groups><group><sample path='a.wav' rootNote='x'/></group>"


def dls(level2=False):
    """A DLS file of two instruments (a keyboard of two regions, one with a loop of its own and an
    articulation; a drum kit) over two waves of 64 frames."""
    le = lambda fmt, *values: struct.pack("<" + fmt, *values)
    lst = lambda kind, chunks: chunk(b"LIST", kind + b"".join(chunks), True)
    info = lambda name: lst(b"INFO", [chunk(b"INAM", name + b"\0", True)])

    def wsmp(unity, fine, gain_db, loop=None):
        # lGain: 1/655360 dB (a 65536th of a centibel)
        body = le("IHhiII", 20, unity, fine, round(gain_db * 655360), 0, 1 if loop else 0)
        if loop:
            body += le("IIII", 16, 0, loop[0], loop[1])
        return chunk(b"wsmp", body, True)

    waves = []
    for n, name in enumerate((b"Sine", b"Snare")):
        frames = b"".join(le("h", (i * (1500 + 900 * n)) % 20000 - 10000) for i in range(64))
        fmt = le("HHIIHH", 1, 1, 22050, 44100, 2, 16)
        waves.append(lst(b"wave", [chunk(b"fmt ", fmt, True), wsmp(60 + n, -5, 0.0, (8, 48) if n == 0 else None),
                                   chunk(b"data", frames, True), info(name)]))
    offsets, at = [], 0
    for wave in waves:
        offsets.append(at)
        at += len(wave)
    ptbl = chunk(b"ptbl", le("II", 8, len(waves)) + b"".join(le("I", o) for o in offsets), True)
    rgn = b"rgn2" if level2 else b"rgn "
    art = lst(b"lart", [chunk(b"art1", le("II", 8, 0), True)])
    keys = lst(b"ins ", [chunk(b"insh", le("III", 2, 0, 5), True),
                         lst(b"lrgn", [lst(rgn, [chunk(b"rgnh", le("HHHHHH", 0, 59, 0, 127, 0, 0), True),
                                                 chunk(b"wlnk", le("HHII", 0, 0, 1, 0), True)]),
                                       lst(rgn, [chunk(b"rgnh", le("HHHHHH", 60, 127, 0, 127, 0, 0), True),
                                                 wsmp(72, 10, -6.0, (4, 40)),
                                                 chunk(b"wlnk", le("HHII", 0, 0, 1, 0), True)])]),
                         art, info(b"Organ")])
    drums = lst(b"ins ", [chunk(b"insh", le("III", 1, 0x80000000, 0), True),
                          lst(b"lrgn", [lst(rgn, [chunk(b"rgnh", le("HHHHHH", 38, 38, 0, 127, 0, 0), True),
                                                  chunk(b"wlnk", le("HHII", 0, 0, 1, 1), True)])]),
                          info(b"Kit")])
    return form(b"RIFF", b"DLS ", [chunk(b"colh", le("I", 2), True), lst(b"lins", [keys, drums]), ptbl,
                                   lst(b"wvpl", waves), info(b"Seed DLS")], True)


def dls_seeds():
    yield "level1.dls", dls()
    yield "level2.dls", dls(level2=True)


def dslibrary_seeds():
    """A zip of a preset and its WAV samples, stored and deflated."""
    import io
    import zipfile
    preset = next(decentsampler_seeds())[1]
    wav = next(wav_seeds())[1]
    for name, method in (("stored.dslibrary", zipfile.ZIP_STORED), ("deflated.dslibrary", zipfile.ZIP_DEFLATED)):
        out = io.BytesIO()
        with zipfile.ZipFile(out, "w", method) as z:
            z.writestr("Keys/layers.dspreset", preset)
            for sample in ("Keys/Samples/lo.wav", "Keys/Samples/mid.wav", "Keys/hi.wav"):
                z.writestr(sample, wav[:300])
        yield name, out.getvalue()


def journal_seeds():
    one, other = b"a" * 64, b"0123456789abcdef" * 4
    head = b"cardmill transfer journal 1\ncard-size %d\nimage-size %d\nimage-hash %s\n"
    yield "partial", head % (4194304, 300000, one) + b"sector 0 " + other + b"\nsector 2 " + one + b"\nend\n"
    yield "complete", head % (0, 131073, other) + b"sector 0 " + one + b"\nsector 1 " + other + b"\nend\n"
    yield "empty-image", head % (0, 0, one) + b"end\n"


def card_image(voices=b"", data=b"", count=0, flags=0):
    """A card image: the card header, the voices' headers and their sample words."""
    total = 108 + len(voices) + len(data)
    header = b"\x00\x70\x38\x1c" + struct.pack(">IH", (total // 2) | flags, count) + b"Seed      1.0 "
    header += b"      " * 11 + b"WinCM " * 3
    return header[:108] + voices + data


def sound_voice(group, position, start, loop, end):
    """A sound's 30-byte voice whose sample plays words start..end of the data."""
    head = bytes((0x10 + group, position)) + b"seed      " + b"\x00\x00\x00\x00\x80\x00"
    d = abs(loop - start)
    return head + struct.pack(">HBBBBBBBBBB", 15735, 0, 0xFC | (d >> 16), (d >> 8) & 0xFF, d & 0xFF,
                              (end >> 8) & 0xFF, end & 0xFF, end >> 16, start >> 16, (start >> 8) & 0xFF, start & 0xFF)


def cardimage_seeds():
    yield "empty", card_image()
    first = (108 + 60) // 2
    voices = sound_voice(0, 1, first, first + 20, first + 40) + sound_voice(0, 2, first + 4, first + 20, first + 40)
    yield "two-sharing", card_image(voices, bytes(range(256))[:2 * 48], 2)


def capture_seeds():
    image = card_image()
    block = image + b"\xff" * (1024 - len(image))
    bits = int.from_bytes(block, "little")
    packed = bytes((bits >> (7 * i)) & 0x7F for i in range(1171))
    message = b"\xf0\x00\x00\x0e\x0e\x12\x00\x00" + packed + bytes((sum(packed) & 0x7F,)) + b"\xf7"
    yield "one-block", b"\xf0\x7e\x7f\x06\x01\xf7" + b"\xf0\x00\x00\x0e\x0e\x11\x00\xf7" + message


SEEDS = {"cardimage": cardimage_seeds, "capture": capture_seeds, "journal": journal_seeds, "sfz": sfz_seeds, "project": project_seeds, "cmt": cmt_seeds, "samplecell": both_layouts,
         "wav": wav_seeds, "aiff": aiff_seeds, "sd": sd_seeds, "midi": midi_seeds, "bank": bank_seeds,
         "sysex": sysex_seeds, "sndfile": sndfile_seeds,
         "soundfont": soundfont_seeds, "decentsampler": decentsampler_seeds, "dls": dls_seeds,
         "dslibrary": dslibrary_seeds}


def main():
    target, folder = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS[target]():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
