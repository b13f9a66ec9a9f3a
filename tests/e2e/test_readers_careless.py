"""Files other programs wrote that the card can't take as they stand: a loop past the sound's end,
songs the card can't play or named like a sound, a sound damaged since it joined a project."""

import os
import unittest

from cardmill_e2e import SNDFILE_WRITER, CardmillTestCase, read, write_song


class CarelessFiles(CardmillTestCase):
    def test_a_loop_past_the_end_is_cut_to_it_wherever_the_sound_goes(self):
        sound = self.path("x.wav")
        self.tool(SNDFILE_WRITER, sound, "1000", "44100", "1", "16", "loop", "100", "99999")
        files, result = self.info(sound)  # libsndfile writes the last frame of the loop: 99998
        self.assertIn("The sound file 'x.wav' says its loop ends at frame 99998, past its 1000 frames; the loop "
                      "is cut to end at frame 999.", result.stderr)
        self.assertEqual((files[0]["sound"]["loopStart"], files[0]["sound"]["loopEnd"]), (100, 999))
        cmt, sfz, project = self.path("x.cmt"), self.path("x.sfz"), self.new_project("p.cmr")
        for command in (("instrument", "-o", cmt, sound), ("instrument", "--sfz", sfz, cmt), ("add", project, sound)):
            self.run_cardmill(*command, check=0)
        self.assertIn("loop_start=100 loop_end=999", read(sfz).decode())
        # 1000 frames and the card's header, not 100,000 frames of silence.
        self.assertLess(len(self.run_cardmill("image", project, "-o", "-", text=False, check=0).stdout), 8192)
        # Told when the sound was added, and not again by every command that opens the project.
        self.run_cardmill("add", project, "--group", "k2", cmt, check=0)
        for command in (("list", project), ("image", project, "-o", self.path("p.img")), ("fit", project)):
            self.assertNotIn("past its 1000 frames", self.run_cardmill(*command, check=0).stderr, command)

    def test_songs_the_card_cant_play_are_refused_with_the_reason_and_a_song_named_wav_is_a_song(self):
        import mido  # Debian's python3-mido, seen only by /usr/bin/python3
        for name, kind, division, why in (("patterns.mid", 2, 96, "It is a format 2 MIDI file"),
                                          ("frames.mid", 1, -(25 << 8) + 40, "It counts time in SMPTE frames")):
            song = mido.MidiFile(type=kind, ticks_per_beat=division)
            song.tracks.append(mido.MidiTrack([mido.Message("note_on", note=60)]))
            song.save(self.path(name))
            self.assertIn(why, self.run_cardmill("info", self.path(name), check=1).stderr)
        write_song(self.path("song.wav"), 4, kind=1)
        files, _ = self.info(self.path("song.wav"))
        self.assertEqual((files[0]["kind"], files[0]["info"][1]), ("standard MIDI file", "Format 1"))
        project = self.new_project("p.cmr")
        self.run_cardmill("add", project, self.path("song.wav"), check=0)
        self.assertIn("song.wav", [f["file"] for g in self.listing(project)["groups"] for f in g["files"]])

    def test_a_sound_damaged_since_it_was_added_fails_the_project_by_name_not_as_noise(self):
        sound = self.sox("a.wav", "0.1", "sine", "440")
        project = self.new_project("p.cmr")
        self.run_cardmill("add", project, sound, check=0)
        with open(sound, "r+b") as f:
            f.write(b"JUNK")
        for command in (("list", project), ("image", project, "-o", self.path("card.img"))):
            result = self.run_cardmill(*command, check=1)
            self.assertIn(f"can't understand the sound file '{sound}'\nIt is not a RIFF WAVE file.", result.stderr)
        self.assertFalse(os.path.exists(self.path("card.img")))


if __name__ == "__main__":
    unittest.main()
