#!/usr/bin/python3
"""Makes an SF3 file from an SF2 file as MuseScore's tools do: each sample encoded by oggenc
(Ogg Vorbis), its start and end as byte offsets into the new sample data, its loop relative to
its own start, the sample type marked compressed and the version 3.

    sf3_from_sf2.py IN.sf2 OUT.sf3
"""
import os
import struct
import subprocess
import sys
import tempfile


def chunks(data, at, end):
    while at + 8 <= end:
        cid = data[at:at + 4]
        (size,) = struct.unpack('<I', data[at + 4:at + 8])
        yield cid, at + 8, size
        at += 8 + size + (size & 1)


def chunk(cid, body):
    return cid + struct.pack('<I', len(body)) + body + (b'\0' if len(body) & 1 else b'')


def main(source, target):
    data = open(source, 'rb').read()
    lists = {}
    for cid, at, size in chunks(data, 12, len(data)):
        if cid == b'LIST':
            kind = data[at:at + 4]
            lists[kind] = [(c, data[a:a + n]) for c, a, n in chunks(data, at + 4, at + size)]
    smpl = dict(lists[b'sdta'])[b'smpl']
    pdta = lists[b'pdta']
    shdr = dict(pdta)[b'shdr']
    packed, headers = bytearray(), bytearray()
    with tempfile.TemporaryDirectory() as folder:
        for i in range(len(shdr) // 46):
            record = bytearray(shdr[i * 46:(i + 1) * 46])
            if i == len(shdr) // 46 - 1:  # the list's end
                headers += record
                continue
            start, end, loop_start, loop_end, rate = struct.unpack('<5I', record[20:40])
            raw = os.path.join(folder, 'sample.raw')
            open(raw, 'wb').write(smpl[start * 2:end * 2])
            ogg = os.path.join(folder, 'sample.ogg')
            subprocess.run(['oggenc', '-Q', '-q', '8', '-r', '-B', '16', '-C', '1', '-R',
                            str(rate), '-o', ogg, raw], check=True)
            stream = open(ogg, 'rb').read()
            record[20:36] = struct.pack('<4I', len(packed), len(packed) + len(stream),
                                        loop_start - start, loop_end - start)
            (kind,) = struct.unpack('<H', record[44:46])
            record[44:46] = struct.pack('<H', kind | 0x10)
            packed += stream
            headers += record
    info = b''.join(chunk(c, struct.pack('<HH', 3, 1) if c == b'ifil' else body)
                    for c, body in lists[b'INFO'])
    hydra = b''.join(chunk(c, bytes(headers) if c == b'shdr' else body) for c, body in pdta)
    body = (b'sfbk' + chunk(b'LIST', b'INFO' + info) + chunk(b'LIST', b'sdta' + chunk(b'smpl', bytes(packed)))
            + chunk(b'LIST', b'pdta' + hydra))
    open(target, 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
