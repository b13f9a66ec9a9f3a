"""DecentSampler presets: a hand-written preset of three samples in two groups gives the key table
it states; what the card can't hold is named by line; a missing sample and a damaged preset are
named."""

import os
import unittest
import zipfile

from cardmill_e2e import CardmillTestCase

PRESET = """<?xml version="1.0" encoding="UTF-8"?>
<DecentSampler minVersion="1.0.0">
  <groups attack="0.01" release="0.5" volume="-3dB">
    <group name="soft" hiVel="80" tuning="0.25">
      <sample path="Samples/lo.wav" rootNote="45" loNote="0" hiNote="52"/>
      <sample path="Samples/mid.wav" rootNote="57" loNote="53" hiNote="127"
              loopEnabled="true" loopStart="100" loopEnd="20000"/>
    </group>
    <group name="loud" loVel="81">
      <sample path="Samples/hi.wav" rootNote="69" loNote="0" hiNote="127" pan="20"/>
    </group>
  </groups>
  <effects><effect type="reverb"/></effects>
</DecentSampler>
"""


class DecentSamplerPresets(CardmillTestCase):
    def setUp(self):
        super().setUp()
        os.mkdir(self.path("Samples"))
        for name, hz in (("lo", 220), ("mid", 440), ("hi", 880)):
            self.sox(os.path.join("Samples", name + ".wav"), "0.5", "sine", str(hz))
        self.preset = self.write("piano.dspreset", PRESET.encode())

    def test_three_samples_in_two_groups_give_the_key_table_they_state(self):
        (found,), result = self.info(self.preset)
        self.assertEqual(found["format"], "DecentSampler")
        instrument = found["instrument"]
        self.assertEqual(instrument["upperKeys"], [52, 127])
        self.assertEqual(instrument["groupSize"], 2)
        samples = [(os.path.basename(s["path"]), s["rootKey"], s["looping"]) for s in instrument["samples"]]
        # Key group by key group, the soft layer first; the loud sample plays in both groups.
        self.assertEqual(samples, [("lo.wav", 45, False), ("hi.wav", 69, False), ("mid.wav", 57, True),
                                   ("hi.wav", 69, False)])
        self.assertEqual({s["fineTune"] for s in instrument["samples"][:1]}, {25 * 256})
        for line in ("piano.dspreset:3: attack: not on the card", "piano.dspreset:10: pan: not on the card",
                     "piano.dspreset:13: <effects>: not on the card"):
            self.assertIn(line, result.stderr)
        project = self.new_project("p.cmr")
        self.run_cardmill("add", project, self.preset, check=0)
        self.assertEqual([f["file"] for g in self.listing(project)["groups"] for f in g["files"]],
                         ["piano.dspreset"])

    def test_a_missing_sample_and_damaged_xml_are_named(self):
        os.remove(self.path(os.path.join("Samples", "mid.wav")))
        result = self.run_cardmill("info", self.preset, check=1)
        self.assertIn("names the sample 'Samples/mid.wav' at line 6", result.stderr)
        broken = self.write("broken.dspreset", PRESET.encode()[:300])
        result = self.run_cardmill("info", broken, check=1)
        self.assertIn("It is no XML", result.stderr)

    def test_a_library_of_presets_in_a_zip_gives_the_preset_chosen(self):
        library = self.path("keys.dslibrary")
        with zipfile.ZipFile(library, "w", zipfile.ZIP_DEFLATED) as z:
            z.write(self.preset, "Keys/piano.dspreset")
            z.writestr("Keys/soft.dspreset", PRESET.replace("Samples/hi.wav", "Samples/HI.WAV")
                       .replace("Samples/mid.wav", "Samples/gone.wav"))
            for name in ("lo", "mid", "hi"):
                z.write(self.path(os.path.join("Samples", name + ".wav")), "Keys/Samples/%s.wav" % name)
        (catalog,), _ = self.info(library)
        self.assertEqual([(p["bank"], p["program"], p["name"]) for p in catalog["presets"]],
                         [(0, 0, "piano"), (0, 1, "soft")])
        (from_zip,), _ = self.info("--preset", "piano", library)
        (from_folder,), _ = self.info(self.preset)
        self.assertEqual(from_zip["instrument"]["upperKeys"], from_folder["instrument"]["upperKeys"])
        self.assertEqual(from_zip["compiledSize"], from_folder["compiledSize"])
        # A sample the zip doesn't hold is named; one in another case is found.
        (soft,), result = self.info("--preset", "soft", library)
        self.assertIn("the library holds no sample 'Keys/Samples/gone.wav'", result.stderr)
        self.assertIn("HI.WAV", [s["name"] for s in soft["instrument"]["samples"]])


if __name__ == "__main__":
    unittest.main()
