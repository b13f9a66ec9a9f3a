"""A card read back: `image` -> `unpack` -> `image` gives the same bytes, over random projects of
both families with every kind of sound, instrument, sequence and bank; info lists a card; a capture
of a transfer with faults comes back as the image sent."""

import fcntl
import json
import os
import random
import unittest

from cardmill_e2e import (ACK, IDENTITY_REQUEST, CardmillTestCase, SimProcess, block_message, card_holds,
                          erase_message, read)
from library_files import bank_capture, random_soundfont, wav

GM = "/usr/share/sounds/sf2/TimGM6mb.sf2"
CARD_SIZES = ("128K", "256K", "512K", "1M", "2M", "4M", "8M", "16M", "24M", "32M")


def song(path, rng):
    """A MIDI file of notes, a program change, a pitch bend and SysEx at random times and tempos."""
    import mido  # Debian's python3-mido, seen only by /usr/bin/python3
    midi = mido.MidiFile(type=rng.choice((0, 1)), ticks_per_beat=rng.choice((96, 480, 960)))
    for t in range(1 if midi.type == 0 else rng.randint(1, 3)):
        track = mido.MidiTrack()
        midi.tracks.append(track)
        if t == 0 and rng.random() < 0.5:
            track.append(mido.MetaMessage("set_tempo", tempo=rng.randint(300000, 900000)))
        channel = rng.randrange(16)
        track.append(mido.Message("program_change", channel=channel, program=rng.randrange(128)))
        for i in range(rng.randint(1, 40)):
            delta = rng.choice((0, 0, 1, 12, 48, 96, 500))
            kind = rng.random()
            if kind < 0.1:
                track.append(mido.Message("sysex", data=[rng.randrange(128) for _ in range(rng.randint(1, 45))],
                                          time=delta))
            elif kind < 0.2:
                track.append(mido.Message("pitchwheel", channel=channel, pitch=rng.randint(-8192, 8191), time=delta))
            else:
                note = rng.randint(30, 90)
                track.append(mido.Message("note_on", channel=channel, note=note, velocity=rng.randint(1, 127),
                                          time=delta))
                track.append(mido.Message("note_off", channel=channel, note=note, time=rng.choice((1, 30, 200))))
    midi.save(path)


def capture_of(image, rng, resend=0.3, corrupt=0.2, drop=()):
    """What a MIDI monitor logs of a transfer: identity request, erases, write blocks in a shuffled
    order, some sent again, some corrupted (a bit flipped) before their good copy, the
    instrument's acknowledgements between them, `drop` never sent."""
    blocks = (len(image) + 1023) // 1024
    log = [IDENTITY_REQUEST]
    order = [i for i in range(blocks) if i not in drop]
    rng.shuffle(order)
    for i in order:
        # The last block filled up with FF, as send writes it.
        message = block_message(*divmod(i, 128), image[1024 * i:1024 * i + 1024].ljust(1024, b"\xff"))
        if i % 128 == 0:
            log.append(erase_message(i // 128))
        if rng.random() < corrupt:
            bad = bytearray(message)
            bad[rng.randrange(8, len(bad) - 2)] ^= 0x01
            log.append(bytes(bad))
        log.append(message)
        log.append(ACK)
        if rng.random() < resend:
            log.append(message)
    return b"".join(log)


class Unpack(CardmillTestCase):
    def sound(self, rng, folder, name):
        """A sound file by sox: 8, 16 or 24 bits, mono or stereo, WAV or AIFF."""
        bits = rng.choice((8, 16, 24))
        channels = rng.choice((1, 1, 2))
        rate = rng.choice((48000, 44100, 32000, 22050, 11025))
        path = os.path.join(folder, name + rng.choice((".wav", ".wav", ".aif")))
        self.tool("sox", "-n", "-r", str(rate), "-b", str(bits), "-c", str(channels), path, "synth",
                  "%.3f" % rng.uniform(0.02, 0.3), rng.choice(("sine", "square", "noise")), str(rng.randint(50, 2000)))
        return path

    def edit(self, rng, project, group, index, sample=1):
        """Sample Info's settings at random: start, loop, volume, root, channel, smoothing."""
        edits = ["--sample", str(sample)]
        if rng.random() < 0.5:
            edits += ["--volume", str(rng.randrange(0, 253))]
        if rng.random() < 0.4:
            edits += ["--root", str(rng.randrange(128))]
        if rng.random() < 0.4:
            edits += ["--loop", str(rng.randrange(0, 400)) if rng.random() < 0.7 else "off"]
        if rng.random() < 0.4:
            edits += ["--start", str(rng.randrange(1, 300))]
        if rng.random() < 0.3:
            edits += ["--channel", rng.choice(("left", "right", "mix"))]
        if rng.random() < 0.2:
            edits += ["--smooth", rng.choice(("on", "off"))]
        self.run_cardmill("sample", project, group, str(index), *edits)

    def random_project(self, rng, number):
        percula = number % 2 == 1
        folder = self.path("p%d" % number)
        os.mkdir(folder)
        project = self.new_project(os.path.join(folder, "song.cmr"), "--name", "Card %d" % number,
                                   "--version", str(rng.randint(1, 9)), "--card-size", CARD_SIZES[number % 10],
                                   "--target", "percula" if percula else "zelta")
        groups = ["k%d" % g for g in range(1, 9)] + ([] if percula else ["d1", "d2", "d3"])
        sounds = [self.sound(rng, folder, "s%d" % n) for n in range(rng.randint(2, 6))]
        for n in range(rng.randint(2, 8)):
            group = rng.choice(groups)
            # The same file in several places: phantoms, with settings of their own.
            self.run_cardmill("add", "--yes", project, "--group", group, rng.choice(sounds), check=0)
        # Instruments: keys split between sounds, and SFZ layers.
        if rng.random() < 0.7:
            cmt = os.path.join(folder, "inst.cmt")
            chosen = rng.sample(sounds, rng.randint(1, len(sounds)))
            self.run_cardmill("instrument", "-o", cmt, *chosen, check=0)
            self.run_cardmill("add", project, "--group", rng.choice(groups), cmt, check=0)
        if rng.random() < 0.6:
            sfz = os.path.join(folder, "layers.sfz")
            with open(sfz, "w") as f:
                for k in range(rng.randint(1, 4)):
                    for layer in range(rng.randint(1, 3)):
                        f.write("<region> lokey=%d hikey=%d lovel=%d hivel=%d pitch_keycenter=%d offset=%d "
                                "tune=%d sample=%s\n" % (30 * k, 30 * k + 29, 1 + 40 * layer, 40 + 40 * layer,
                                                          rng.randint(30, 90), rng.choice((0, 0, 50)),
                                                          rng.randint(-50, 50), os.path.basename(rng.choice(sounds))))
            self.run_cardmill("add", project, "--group", rng.choice(groups), sfz, check=0)
        if rng.random() < 0.5:
            font = os.path.join(folder, "kit.sf2")
            with open(font, "wb") as f:
                f.write(random_soundfont(rng))
            self.run_cardmill("add", project, "--group", rng.choice(groups), "--preset",
                              rng.choice(("128:0", "0:5")), font, check=0)
        # Settings edited on some voices and samples.
        listing = self.listing(project)
        for g in listing["groups"]:
            if g["group"] < 11:
                for index, item in enumerate(g["files"], start=1):
                    for sample in range(1, len(item.get("samples", [])) + 1):
                        if rng.random() < 0.5:
                            self.edit(rng, project, self.word(g["group"]), index, sample)
        # Sequences, one with its out-port flag, and a bank of the card's family.
        for n in range(rng.randint(0, 3)):
            path = os.path.join(folder, "song%d.mid" % n)
            song(path, rng)
            self.run_cardmill("add", project, path, check=0)
            if rng.random() < 0.5:
                self.run_cardmill("set", project, "--out-port", "%d=1" % (n + 1), check=0)
        if rng.random() < 0.6:
            bank = self.write("p%d/bank.syx" % number, bank_capture(0x19 if percula else 0x0E,
                                                                        lambda m, i: rng.randrange(256)))
            self.run_cardmill("add", project, bank, check=0)
        if rng.random() < 0.5:
            self.run_cardmill("set", project, "--group-name", "%s=%s" % (groups[0], rng.choice(("Keys", "Piano", "Lead"))),
                              check=0)
        return project

    @staticmethod
    def word(group):
        return ("k%d" % (group + 1)) if group < 8 else ("d%d" % (group - 7))

    def round_trip(self, project, where):
        """image -> unpack -> image: the same bytes. The unpacked folder."""
        first = project + ".img"
        self.run_cardmill("--yes", "image", project, "-o", first, check=0)
        folder = project + ".unpacked"
        result = self.run_cardmill("unpack", first, "-o", folder, check=0)
        projects = [f for f in os.listdir(folder) if f.endswith(".cmr")]
        self.assertEqual(len(projects), 1, where)
        second = project + ".again.img"
        self.run_cardmill("--yes", "image", os.path.join(folder, projects[0]), "-o", second, check=0)
        a, b = read(first), read(second)
        if a != b:
            diff = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
            self.fail("%s: %d and %d bytes, first difference at offset %d\n%s" % (where, len(a), len(b), diff,
                                                                                  result.stderr))
        return folder, result

    def random_image(self, rng, number):
        """A random project and the path of its card image."""
        project = self.random_project(rng, number)
        image = project + ".img"
        self.run_cardmill("--yes", "image", project, "-o", image, check=0)
        return project, image

    def test_random_projects_come_back_byte_for_byte(self):
        count = int(os.environ.get("UNPACK_PROJECTS", "24"))
        for number in range(count):
            rng = random.Random(3100 + number)
            with self.subTest(project=number):
                project = self.random_project(rng, number)
                self.round_trip(project, "project %d" % number)

    def test_a_card_past_16_megabytes_keeps_the_addresses_of_its_last_samples(self):
        rng = random.Random(7)
        project = self.new_project("big.cmr", "--card-size", "24M")
        for n in range(3):
            path = self.path("long%d.wav" % n)
            with open(path, "wb") as f:
                f.write(wav([rng.randint(-20000, 20000) for _ in range(3_000_000)], 44100, loop=(100000, 2_900_000)))
            self.run_cardmill("--yes", "add", project, path, check=0)
        self.run_cardmill("--yes", "add", project, "--group", "k2", self.path("long2.wav"), check=0)
        self.run_cardmill("sample", project, "k2", "1", "--start", "90000", check=0)
        self.run_cardmill("sample", project, "k1", "3", "--start", "30", "--loop", "50", check=0)
        self.round_trip(project, "big card")

    @unittest.skipUnless(os.path.exists(GM), "Debian's GM SoundFont (timgm6mb-soundfont) is not installed")
    def test_a_soundfont_kit_and_piano_and_the_demo_come_back(self):
        project = self.new_project("gm.cmr", "--card-size", "8M")
        self.run_cardmill("add", project, "--group", "d1", "--preset", "128:0", GM, check=0)
        self.run_cardmill("add", project, "--group", "k1", "--preset", "0:0", GM, check=0)
        folder, _ = self.round_trip(project, "SoundFont kit and piano")
        names = sorted(os.listdir(folder))
        self.assertTrue(any(n.endswith(".cmt") for n in names), names)
        self.assertTrue(any(n.endswith(".wav") for n in names), names)

    def test_info_lists_the_card_and_a_second_unpack_asks_before_replacing(self):
        rng = random.Random(11)
        project, image = self.random_image(rng, 0)
        listing = json.loads(self.run_cardmill("info", "--json", image, check=0).stdout)[0]
        source = self.listing(project)
        self.assertEqual((listing["kind"], listing["cardName"]), ("card image", "Card 0"))
        self.assertEqual(len(listing["voices"]), sum(len(g["files"]) for g in source["groups"] if g["group"] < 11))
        csv = self.run_cardmill("info", "--csv", image, check=0).stdout.splitlines()
        self.assertTrue(csv[0].startswith("group,position,voice"))
        self.assertEqual(len(csv) - 1, sum(len(v["samples"]) for v in listing["voices"]))

        folder = self.path("out")
        self.run_cardmill("unpack", image, "-o", folder, check=0)
        before = {n: read(os.path.join(folder, n)) for n in os.listdir(folder)}
        again = self.run_cardmill("unpack", image, "-o", folder)
        self.assertNotEqual(again.returncode, 0)
        self.assertIn("already holds", again.stderr)
        self.assertEqual(before, {n: read(os.path.join(folder, n)) for n in os.listdir(folder)})
        # Not over a project open in Cardmill's window (or changed by a command), even with --yes.
        (project_file,) = [os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".cmr")]
        with open(project_file, "rb") as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            busy = self.run_cardmill("--yes", "unpack", image, "-o", folder)
        self.assertNotEqual(busy.returncode, 0)
        self.assertIn("in use", busy.stderr)
        self.assertEqual(before, {n: read(os.path.join(folder, n)) for n in os.listdir(folder)})
        self.run_cardmill("--yes", "unpack", image, "-o", folder, check=0)
        self.assertEqual([n for n in os.listdir(self.dir) if "unpack-" in n], [])

    def test_a_capture_with_resends_and_corrupt_messages_comes_back_as_the_image_sent(self):
        rng = random.Random(13)
        _, image = self.random_image(rng, 4)
        data = read(image)
        capture = self.write("capture.syx", capture_of(data, rng))
        again = self.path("again.img")
        self.run_cardmill("unpack", capture, "-o", again, check=0)
        self.assertEqual(read(again), data)
        # A project straight from the capture, as from the image.
        self.run_cardmill("unpack", capture, "-o", self.path("from-capture"), check=0)
        self.assertTrue(any(n.endswith(".cmr") for n in os.listdir(self.path("from-capture"))))

        # Holes are named, and taken as zeros only when asked.
        holes = self.write("holes.syx", capture_of(data, rng, drop=(1, 2, 5)))
        result = self.run_cardmill("unpack", holes, "-o", self.path("holes.img"), check=1)
        self.assertIn("3 blocks (sector 1, block 2 to sector 1, block 3; sector 1, block 6)", result.stderr)
        self.assertFalse(os.path.exists(self.path("holes.img")))
        self.run_cardmill("--yes", "unpack", holes, "-o", self.path("holes.img"), check=0)
        filled = read(self.path("holes.img"))
        self.assertEqual(filled[1024:3072], bytes(2048))
        self.assertEqual(filled[:1024], data[:1024])

    def test_a_send_recorded_by_a_faulty_instrument_comes_back_as_the_image_sent(self):
        rng = random.Random(17)
        _, image = self.random_image(rng, 3)
        # The instrument loses a reply, refuses a block with a bad checksum and sees one arrive
        # corrupted: send answers each by sending the block again.
        capture = self.path("capture.syx")
        sim = SimProcess(self, "--card-size", "4M", "--record", capture, "--fault", "drop:3",
                         "--fault", "corrupt:5", "--fault", "refuse:3:8")
        self.run_cardmill("send-image", "--yes", image, "--port", sim.port, check=0)
        sim.stop()
        self.assertTrue(card_holds(sim.card, read(image)), "the card differs from the image")
        again = self.path("again.img")
        self.run_cardmill("unpack", capture, "-o", again, check=0)
        self.assertEqual(read(again), read(image))

        # A capture of another maker's instrument is not read as this one's.
        result = self.run_cardmill("--maker-id", "000010", "unpack", capture, "-o", self.path("other.img"), check=1)
        self.assertIn("is for the maker ID 00000E, not 000010", result.stderr)
        self.assertFalse(os.path.exists(self.path("other.img")))

    def test_data_no_sample_plays_and_none_can_widen_is_named(self):
        # A card whose only sound starts 10 frames into its data (as after an edit in a
        # program that kept the data): nothing in a project widens a lone sound again.
        project = self.new_project("lone.cmr")
        self.run_cardmill("add", project, "--group", "k1", self.sox("lone.wav", "0.1", "sine", "330"), check=0)
        image = self.path("lone.img")
        self.run_cardmill("image", project, "-o", image, check=0)
        data = bytearray(read(image))
        h = 108 + 16 + 2  # the sound's sample header
        start = int.from_bytes(data[h + 9:h + 12], "big") + 10
        distance = int.from_bytes(data[h + 3:h + 6], "big") - 10
        data[h + 9:h + 12] = start.to_bytes(3, "big")
        data[h + 3:h + 6] = (distance | (data[h + 3] & 0xFC) << 16).to_bytes(3, "big")
        edited = self.write("edited.img", bytes(data))
        result = self.run_cardmill("unpack", edited, "-o", self.path("edited"), check=0)
        self.assertIn("can't come back exactly: the card keeps more of 'lone.wav' than voice 1 ('lone.wav') plays",
                      result.stderr)

    def test_a_damaged_image_is_named_with_its_offset_and_leaves_nothing(self):
        rng = random.Random(12)
        _, image = self.random_image(rng, 2)
        data = read(image)
        cut = self.write("cut.img", data[:len(data) // 2])
        result = self.run_cardmill("unpack", cut, "-o", self.path("cut"), check=1)
        self.assertIn("cut short", result.stderr)
        bad = bytearray(data)
        header = 65536 if data[:4] == b"\xa5\xc3\x5a\xa5" else 0
        bad[header + 108] = 0x55
        damaged = self.write("damaged.img", bytes(bad))
        result = self.run_cardmill("unpack", damaged, "-o", self.path("damaged"), check=1)
        self.assertIn("voice 1", result.stderr)
        self.assertIn("offset %d" % (header + 108), result.stderr)
        self.assertFalse(os.path.exists(self.path("cut")) or os.path.exists(self.path("damaged")))
        self.assertEqual([n for n in os.listdir(self.dir) if "unpack-" in n], [])


if __name__ == "__main__":
    unittest.main()
