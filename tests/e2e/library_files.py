"""Builders of the files musicians bring, written from plain descriptions: WAV files with a sampler
chunk, SoundFonts, DLS files, DecentSampler libraries, SFZ files and program-bank captures. Numbers
are in the units of each format's own documents, so the files are what other programs write."""

import io
import math
import struct
import zipfile

from cardmill_e2e import MAKER, pack7

# Each family's bank: (offset, messages, message size, bytes each message carries) of each kind
# of message, and the capture's size.
BANK_LAYOUTS = {0x0E: ([(0, 128, 408, 350), (52224, 128, 83, 65), (62848, 100, 166, 138), (79448, 1, 31, 0)], 79479),
                0x19: ([(0, 128, 198, 166), (25344, 64, 36, 24), (27648, 64, 648, 560)], 69525)}


def _le(fmt, *values):
    return struct.pack("<" + fmt, *values)


def _chunk(cid, body):
    return cid + _le("I", len(body)) + body + (b"\0" if len(body) & 1 else b"")


def _list(kind, chunks):
    return _chunk(b"LIST", kind + b"".join(chunks))


def _riff(kind, chunks):
    body = kind + b"".join(chunks)
    return b"RIFF" + _le("I", len(body)) + body


def wav(frames, rate, channels=1, root=60, cents=0, loop=None):
    """A 16-bit PCM WAV: `frames` interleaved samples; a sampler chunk with the root key, the fine
    tune (cents above the root, 0 to 99) and one forward loop (start, end) when given."""
    fmt = _le("HHIIHH", 1, channels, rate, rate * 2 * channels, 2 * channels, 16)
    loops = [loop] if loop else []
    smpl = _le("9I", 0, 0, 10 ** 9 // rate, root, round(cents / 100 * 2 ** 32) & 0xFFFFFFFF, 0, 0,
               len(loops), 0)
    for start, end in loops:
        smpl += _le("6I", 0, 0, start, end, 0, 0)
    data = _le("%dh" % len(frames), *frames)
    return _riff(b"WAVE", [_chunk(b"fmt ", fmt), _chunk(b"smpl", smpl), _chunk(b"data", data)])


def _name20(name):
    return name.encode()[:19].ljust(20, b"\0")


def soundfont(samples, presets):
    """A SoundFont 2.04. `samples`: dicts of name, frames (mono), rate, pitch (root key),
    correction (cents), loop (start, end in the sample). `presets`: dicts of name, bank, program
    and zones; a zone is a dict of sample (index), keys (lo, hi), vels (lo, hi) and, when set,
    root (overriding root key), tune (cents), coarse (semitones), loop (sample mode 1),
    attenuation (centibels), start (frames after the sample's start). Each preset has an
    instrument of its own."""
    smpl, shdr = bytearray(), bytearray()
    for s in samples:
        start = len(smpl) // 2
        smpl += _le("%dh" % len(s["frames"]), *s["frames"]) + bytes(2 * 46)
        loop_start, loop_end = s.get("loop", (0, 0))
        shdr += _name20(s["name"]) + _le("5I", start, start + len(s["frames"]), start + loop_start,
                                         start + loop_end, s["rate"])
        shdr += _le("BbHH", s.get("pitch", 60), s.get("correction", 0), 0, 1)
    shdr += _name20("EOS") + bytes(26)

    def gen(oper, amount):
        return _le("Hh", oper, amount)

    def rng(oper, lo, hi):
        return _le("HBB", oper, lo, hi)

    phdr, pbag, pgen, inst, ibag, igen = bytearray(), bytearray(), bytearray(), bytearray(), bytearray(), bytearray()
    for n, p in enumerate(presets):
        phdr += _name20(p["name"]) + _le("HHH", p["program"], p["bank"], len(pbag) // 4) + bytes(12)
        pbag += _le("HH", len(pgen) // 4, 0)
        pgen += gen(41, n)
        inst += _name20(p["name"]) + _le("H", len(ibag) // 4)
        for z in p["zones"]:
            ibag += _le("HH", len(igen) // 4, 0)
            igen += rng(43, *z["keys"]) + rng(44, *z.get("vels", (0, 127)))
            if "start" in z:
                igen += gen(0, z["start"])
            if "attenuation" in z:
                igen += gen(48, z["attenuation"])
            if "coarse" in z:
                igen += gen(51, z["coarse"])
            if "tune" in z:
                igen += gen(52, z["tune"])
            if z.get("loop"):
                igen += gen(54, 1)
            if "root" in z:
                igen += gen(58, z["root"])
            igen += gen(53, z["sample"])
    phdr += _name20("EOP") + _le("HHH", 0, 0, len(pbag) // 4) + bytes(12)
    pbag += _le("HH", len(pgen) // 4, 0)
    inst += _name20("EOI") + _le("H", len(ibag) // 4)
    ibag += _le("HH", len(igen) // 4, 0)
    pdta = [_chunk(b"phdr", bytes(phdr)), _chunk(b"pbag", bytes(pbag)), _chunk(b"pmod", bytes(10)),
            _chunk(b"pgen", bytes(pgen) + bytes(4)), _chunk(b"inst", bytes(inst)),
            _chunk(b"ibag", bytes(ibag)), _chunk(b"imod", bytes(10)), _chunk(b"igen", bytes(igen) + bytes(4)),
            _chunk(b"shdr", bytes(shdr))]
    info = [_chunk(b"ifil", _le("HH", 2, 4)), _chunk(b"isng", b"EMU8000\0"), _chunk(b"INAM", b"Test\0")]
    return _riff(b"sfbk", [_list(b"INFO", info), _list(b"sdta", [_chunk(b"smpl", bytes(smpl))]),
                           _list(b"pdta", pdta)])


def _wsmp(unity, fine, gain_db, loop):
    # The gain is in 1/655360 dB (a 32-bit fraction of a centibel).
    body = _le("IHhiII", 20, unity, fine, round(gain_db * 655360), 0, 1 if loop else 0)
    if loop:
        body += _le("IIII", 16, 0, loop[0], loop[1] - loop[0])
    return _chunk(b"wsmp", body)


def _info(name):
    return _list(b"INFO", [_chunk(b"INAM", name.encode() + b"\0")])


def dls(waves, instruments):
    """A DLS level 1 file. `waves`: dicts of name, frames (mono), rate, unity (root key), fine
    (cents), gain (dB), loop (start, end). `instruments`: dicts of name, bank, program, drums and
    regions; a region is a dict of wave (index), keys (lo, hi) and, when it has a wsmp of its
    own over the wave's, unity, fine, gain and loop."""
    pool = []
    for w in waves:
        fmt = _le("HHIIHH", 1, 1, w["rate"], w["rate"] * 2, 2, 16)
        data = _le("%dh" % len(w["frames"]), *w["frames"])
        pool.append(_list(b"wave", [_chunk(b"fmt ", fmt),
                                    _wsmp(w.get("unity", 60), w.get("fine", 0), w.get("gain", 0.0), w.get("loop")),
                                    _chunk(b"data", data), _info(w["name"])]))
    offsets, at = [], 0
    for wave in pool:
        offsets.append(at)
        at += len(wave)
    lins = []
    for i in instruments:
        regions = []
        for r in i["regions"]:
            parts = [_chunk(b"rgnh", _le("HHHHHH", r["keys"][0], r["keys"][1], 0, 127, 0, 0))]
            if "unity" in r:
                parts.append(_wsmp(r["unity"], r.get("fine", 0), r.get("gain", 0.0), r.get("loop")))
            parts.append(_chunk(b"wlnk", _le("HHII", 0, 0, 1, r["wave"])))
            regions.append(_list(b"rgn ", parts))
        bank = i.get("bank", 0) | (0x80000000 if i.get("drums") else 0)
        lins.append(_list(b"ins ", [_chunk(b"insh", _le("III", len(regions), bank, i["program"])),
                                    _list(b"lrgn", regions), _info(i["name"])]))
    ptbl = _chunk(b"ptbl", _le("II", 8, len(pool)) + b"".join(_le("I", o) for o in offsets))
    return _riff(b"DLS ", [_chunk(b"colh", _le("I", len(instruments))), _list(b"lins", lins), ptbl,
                           _list(b"wvpl", pool), _info("Test DLS")])


def dslibrary(presets, samples):
    """A DecentSampler library: a zip of presets (name -> list of sample dicts of path, root,
    lo, hi and, when set, tuning (semitones), volume (dB), loop (start, end), start) and of the
    WAV files they name (path -> bytes)."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name, regions in presets.items():
            lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<DecentSampler>", "<groups><group>"]
            for r in regions:
                extra = ""
                if "tuning" in r:
                    extra += ' tuning="%s"' % r["tuning"]
                if "volume" in r:
                    extra += ' volume="%sdB"' % r["volume"]
                if "loop" in r:
                    extra += ' loopEnabled="true" loopStart="%d" loopEnd="%d"' % r["loop"]
                if "start" in r:
                    extra += ' start="%d"' % r["start"]
                lines.append('<sample path="%s" rootNote="%d" loNote="%d" hiNote="%d"%s/>'
                             % (r["path"], r["root"], r["lo"], r["hi"], extra))
            lines += ["</group></groups>", "</DecentSampler>"]
            z.writestr(name + ".dspreset", "\n".join(lines))
        for path, data in samples.items():
            z.writestr(path, data)
    return out.getvalue()


def tone(rng, frames, rate, channels=1):
    """Partials and a little noise, fading in and out: a sound with silence to trim at its ends."""
    partials = [(rng.uniform(80, min(9000, rate / 2.5)), rng.uniform(0.05, 0.3)) for _ in range(3)]
    out = []
    for i in range(frames):
        envelope = min(1.0, i / (frames * 0.1 + 1), (frames - i) / (frames * 0.2 + 1))
        value = sum(a * math.sin(2 * math.pi * hz * i / rate) for hz, a in partials) * envelope
        for c in range(channels):
            out.append(max(-32768, min(32767, round((value + rng.uniform(-0.002, 0.002)) * (0.8 + 0.2 * c) * 32767))))
    return out


def random_soundfont(rng, early_loops=True):
    """A SoundFont of two presets, "Set 0" (128:0) and "Set 1" (0:5), of 4 to 8 zones each over
    3 to 5 samples they share: tunings, overriding roots, loops, attenuations at random; with
    `early_loops`, some samples' loops start before their sample, as some files have them (an
    SF3 can't say so)."""
    samples = []
    for n in range(rng.randint(3, 5)):
        rate = rng.choice((44100, 32000, 22050))
        frames = rng.randint(3000, 12000)
        loop = (frames // 3, frames - 10) if rng.random() < 0.5 else (0, 0)
        if early_loops and n > 0 and loop != (0, 0) and rng.random() < 0.2:
            loop = (-4, loop[1])
        samples.append({"name": "Hit %d" % n, "frames": tone(rng, frames, rate), "rate": rate,
                        "pitch": rng.randint(36, 84), "correction": rng.randint(-30, 30), "loop": loop})
    presets = []
    for p, (bank, program) in enumerate(((128, 0), (0, 5))):
        zones = []
        for k in range(rng.randint(4, 8)):
            zone = {"sample": rng.randrange(len(samples)), "keys": (30 + 6 * k, 35 + 6 * k)}
            if rng.random() < 0.5:
                zone["tune"] = rng.randint(-60, 60)
            if rng.random() < 0.3:
                zone["root"] = rng.randint(30, 90)
            if samples[zone["sample"]]["loop"] != (0, 0) and rng.random() < 0.7:
                zone["loop"] = True
            if rng.random() < 0.3:
                zone["attenuation"] = rng.choice((30, 60, 120))
            zones.append(zone)
        presets.append({"name": "Set %d" % p, "bank": bank, "program": program, "zones": zones})
    return soundfont(samples, presets)


def random_dls(rng):
    """A DLS file of the instruments "Organ" (0:3, two regions, one with a wsmp of its own over
    its wave's) and "Kit" (drums, one region) over two waves at random rates, tunings and gains."""
    waves = [{"name": "Wave %d" % n, "frames": tone(rng, rng.randint(4000, 10000), rate), "rate": rate,
              "unity": rng.randint(48, 72), "fine": rng.randint(-20, 20), "gain": rng.choice((0.0, -6.0)),
              "loop": (1000, 3000) if n == 0 else None}
             for n, rate in enumerate((rng.choice((44100, 22050)), 32000))]
    instruments = [{"name": "Organ", "program": 3, "regions": [
                       {"wave": 0, "keys": (0, 59)},
                       {"wave": 1, "keys": (60, 127), "unity": 70, "fine": rng.randint(-30, 30),
                        "gain": rng.choice((-3.0, -12.5)), "loop": (500, 2500)}]},
                   {"name": "Kit", "program": 0, "drums": True, "regions": [{"wave": 1, "keys": (38, 38)}]}]
    return dls(waves, instruments)


def bank_capture(family=0x0E, byte=lambda m, i: (m + i) & 0xFF):
    """A valid program-bank capture of the synthesizer family: byte i of message m is byte(m, i)."""
    layout, size = BANK_LAYOUTS[family]
    capture = bytearray(size)
    for offset, count, length, unpacked in layout:
        for m in range(count):
            at = offset + length * m
            packed = pack7(bytes(byte(m, i) for i in range(unpacked)))
            capture[at:at + 7 + len(packed)] = b"\xf0" + MAKER + bytes((family, 0, 0)) + packed
            capture[at + length - 1] = 0xF7
    return bytes(capture)
