"""What a file is and what an item is called, as the command line tells them: a project saved or
renamed without its extension is still a project, and a sequence is named after its MIDI file."""

import os
import unittest

from cardmill_e2e import CardmillTestCase, read, write_song


class NamesAndKinds(CardmillTestCase):
    def test_a_project_without_its_extension_is_known_by_its_contents(self):
        project = self.new_project("perc.cmr", "--name", "Perc")
        kick = self.sox("kick.wav", "0.2", "sine", "60")
        self.run_cardmill("add", project, kick, check=0)
        bare = self.path("perc")
        os.rename(project, bare)

        listing = self.listing(bare)
        self.assertEqual(listing["cardName"], "Perc")
        self.assertEqual([f["file"] for f in listing["groups"][0]["files"]], ["kick.wav"])
        # It is changed and compiled as any project is, and never taken for raw sample data.
        self.run_cardmill("set", bare, "--name", "Drums", check=0)
        self.assertEqual(self.listing(bare)["cardName"], "Drums")
        self.run_cardmill("image", bare, "-o", self.path("perc.img"), check=0)
        other = self.new_project("other.cmr")
        added = self.run_cardmill("--yes", "add", other, bare, check=1)
        self.assertIn("is a Cardmill project", added.stderr)
        info, _ = self.info(bare)
        self.assertEqual(info[0]["kind"], "project file")
        # Another file without an extension is still no project.
        notes = self.write("notes", "ORCM but not a project")
        self.assertIn("is not a project file", self.run_cardmill("list", notes, check=1).stderr)

    def test_a_sequence_is_named_after_its_midi_file_and_the_card_is_unchanged(self):
        project = self.new_project("songs.cmr")
        write_song(self.path("groove.mid"), 8)
        self.run_cardmill("add", project, self.path("groove.mid"), check=0)
        before = read(project)
        [sequence] = self.listing(project)["groups"][11]["files"]
        self.assertEqual((sequence["file"], sequence["name"]), ("groove.mid", "groove.mid"))
        self.assertIn("groove.mid", self.run_cardmill("list", project, check=0).stdout.split())
        # The name comes from the file each time: the project file keeps nothing more.
        self.run_cardmill("set", project, "--name", "untitled", check=0)
        self.assertEqual(read(project), before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
