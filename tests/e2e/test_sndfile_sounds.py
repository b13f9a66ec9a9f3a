"""Sounds in the formats other programs write that our own readers don't know: FLAC made by
`flac` (keeping the WAV's sampler chunk), Ogg Vorbis made by `oggenc`, read through libsndfile."""

import unittest

from cardmill_e2e import SNDFILE_WRITER, CardmillTestCase


class SndfileSounds(CardmillTestCase):
    def test_a_flac_made_by_flac_gives_the_card_of_its_wav_with_its_root_and_loop(self):
        wav = self.path("pad.wav")
        self.tool(SNDFILE_WRITER, wav, "3000", "44100", "2", "16", "root", "67", "loop", "100", "2500")
        flac = self.path("pad.flac")
        self.tool("flac", "--silent", "--keep-foreign-metadata", "-o", flac, wav)
        (from_wav,), _ = self.info(wav)
        (from_flac,), _ = self.info(flac)
        self.assertTrue(from_flac["format"].startswith("FLAC"), from_flac["format"])
        for field in ("rootKey", "loopStart", "loopEnd", "frames", "channels", "rate"):
            self.assertEqual(from_flac["sound"].get(field), from_wav["sound"].get(field), field)
        # The cards differ only in the voice's name (pad.wav, pad.flac).
        a, b = self.image_of("w", wav), self.image_of("f", flac)
        self.assertEqual(len(a), len(b))
        differing = [i for i in range(len(a)) if a[i] != b[i]]
        self.assertLessEqual(differing[-1] - differing[0], 10, differing)

    def test_an_ogg_vorbis_sound_joins_a_project_and_a_damaged_one_is_named(self):
        wav = self.sox("tone.wav", "0.5", "sine", "440")
        ogg = self.path("tone.ogg")
        self.tool("oggenc", "--quiet", "-o", ogg, wav)
        project = self.new_project("p.cmr")
        self.run_cardmill("add", project, ogg, check=0)
        self.assertEqual([f["file"] for g in self.listing(project)["groups"] for f in g["files"]], ["tone.ogg"])
        with open(ogg, "r+b") as f:
            f.truncate(200)
        result = self.run_cardmill("list", project, check=1)
        self.assertIn("can't understand the sound file", result.stderr)


if __name__ == "__main__":
    unittest.main()
