#include "Cli.h"

#include "model/APrefs.h"
#include "platform/ParseNumber.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace cardmill {

std::atomic<bool> gInterrupted { false };

namespace {

volatile std::sig_atomic_t gSignal = 0;

} // namespace

namespace {

struct Command {
    const char* name;
    const char* synopsis;
    const char* summary;
    const char* details;
    int (*run)(CliApp&);
};

// Details are paragraphs of one line each, wrapped to the terminal's 80 columns when printed;
// lines that start with blanks are table rows, continued under their second column.
// The port options that every command talking to the instrument takes.
#define OUTPUT_HELP                                                                                \
    "A file Cardmill recognises as another kind (a project, a sound, an instrument...) is "        \
    "replaced only when confirmed (--yes); a device or named pipe is written in place."
#define PORT_HELP                                                                                  \
    "--port P names the instrument's port in both directions: an ALSA sequencer port's name (or "  \
    "a unique part of it, see 'cardmill ports'), the path of a raw MIDI device or pty "            \
    "(/dev/snd/midiC1D0, /dev/pts/7; a path to a file or folder is refused), or sim for the "      \
    "virtual instrument inside this program, "                                                     \
    "whose options may follow in the same word (--port 'sim --card card.bin --fault drop:5'; "     \
    "see 'cardmill sim --help'). --in P and --out P name the two directions separately. Without "  \
    "them the ports stored in the preferences MidiInputPort and MidiOutputPort are used.\n"        \
    "--pace BYTES_PER_SECOND writes each long message in pieces of at most 256 bytes spaced to "   \
    "that rate (3125 is a DIN MIDI cable's rate; 0 is full speed, each message written whole), "   \
    "for USB-MIDI interfaces that lose bytes of long messages sent at full speed. Without it the " \
    "pace remembered for the port is used (see 'cardmill ports'), else full speed. When a block "  \
    "fails twice at one pace, the next tries go at half of it (31250 after full speed), down to "  \
    "3125; you are told once ('the link loses bytes at full speed; sending at 3,125 bytes a "      \
    "second') and the pace that worked is remembered for the port. A --pace given is remembered "  \
    "too; --pace 0 forgets.\n"

const Command kCommands[] = {
    { "help", "help [COMMAND]", "show this help, or a command's help", "", nullptr },
    { "info", "info [--json | --csv] [--preset P] FILE...",
        "recognise files as the loader would and describe them",
        "Prints, for each file, its kind, format name, the three information lines, comment, "
        "short name and compiled size. Sounds also show rate, bits, channels, frames, loops, "
        "markers, root key, fine tune and the default loop chosen when the sound is loaded. A file "
        "that can't be understood is reported and makes the exit status 1. A library of presets "
        "(SoundFont .sf2 or .sf3, DLS .dls) lists its presets (bank, program, name, keys; in "
        "--json a list \"presets\"); "
        "with --preset P (a name or BANK:PROGRAM) the preset is described as the instrument that "
        "'add --preset P' adds. An instrument's samples give in --json the channel each plays "
        "as list --json and sample --channel name it: \"mix\" (a mono sample, or both channels "
        "mixed), \"left\" or \"right\".\n"
        "A card image (.img) or a captured transfer (.syx) lists what the card holds: card "
        "information, each voice (group, position, name, key groups, layers, samples with "
        "frames, rate, root key, fine tune, start and loop), the sequences (length, out port), "
        "the bank and the free bytes on the smallest card that holds it. --csv prints the voices' "
        "sample lines as comma-separated values for a spreadsheet.\n"
        "Texts are printed in UTF-8 whatever the file holds: 8-bit texts are read as Windows-1252 "
        "(WAV, MIDI, SysEx and Windows-made files) or Mac Roman (AIFF, Sound Designer and "
        "SampleCell files).",
        CommandInfo },
    { "new", "new PROJECT.cmr [card options]", "create an empty project file",
        "Card options (also taken by set):\n"
        "  --name N         card name, 1 to 10 characters (default \"untitled\")\n"
        "  --version V      version text, 1 to 4 characters (default \"1.00\")\n"
        "  --card-size S    128K 256K 512K 1M 2M 4M 8M 16M 24M 32M, or 0 to 9 (default: the "
        "DefaultCardSizeToken preference)\n"
        "  --target T       zelta or percula (default zelta)\n"
        "The instrument shows letters, digits, blanks and punctuation: accented letters in a name "
        "lose their accents (you are told how the name appears), and a name with other characters "
        "is refused. An existing file is never overwritten.",
        CommandNew },
    { "add", "add PROJECT.cmr [--group G] [--split-stereo] [--preset P] FILE...",
        "load files into a project and save it",
        "Loads sound files, instruments, standard MIDI files and SysEx banks as the desktop "
        "application's loader does, places them and saves the project (a .bak backup stands while "
        "it is written). Sounds and instruments go to --group G: k1-k8 (keyboard groups), d1-d3 "
        "(drum groups, which a Percula card doesn't have) or a group's name (default k1); "
        "sequences always go to Sequences and a "
        "SysEx bank to Programs. --split-stereo makes two items of a stereo sound (left and "
        "right), as the SplitStereoFiles preference does. A library of presets (SoundFont .sf2 or "
        ".sf3, DLS .dls) is added as one of its presets, the one --preset P names (by name, case "
        "ignored, or as BANK:PROGRAM; "
        "'cardmill info FILE' lists them); a file of one preset needs no --preset.\n"
        "A file that no reader understands can be taken as raw 16-bit mono 48 kHz sample data: "
        "you are asked first (--yes takes it, --no or no terminal leaves the project as it was, "
        "with exit status 3). If any file can't be added, nothing is saved.",
        CommandAdd },
    { "remove", "remove PROJECT.cmr G INDEX",
        "remove the file at INDEX (from 1) of group G and save",
        "Groups are k1-k8, d1-d3, seq, prog or a group's name; 'cardmill list' shows the "
        "indexes.",
        CommandRemove },
    { "set", "set PROJECT.cmr [card options] [--group-name G=NAME]... [--out-port INDEX=0/1]...",
        "change card information, group names and sequences' out-port flags",
        "Card options as for new. --group-name renames a keyboard or drum group (at most 6 "
        "characters); --out-port sets the \"Sequence Data via Out Port\" flag of sequence INDEX. "
        "Refused as Card Info refuses: an empty name or version, or the Percula target while a "
        "drum group holds files.",
        CommandSet },
    { "voice", "voice PROJECT.cmr G INDEX [--name NAME] [--keys U1,U2,...] [--lower G=KEY]...",
        "change a voice's name and key groups, as Voice Info does",
        "Changes the sound file or instrument at INDEX (from 1) of group G, saves the project and "
        "says what changed (each setting from its old value to its new one). "
        "--name sets the voice name shown on the instrument (1 to 10 characters). --keys gives "
        "the upper key of every key group of an instrument, lowest group first, as note numbers "
        "(0-127) or names (C-2 is 0, C3 is 60, G8 is 127; F#2, Bb-1). The keys are set group by "
        "group with Voice Info's checks: a key that overlaps other groups is refused and nothing "
        "is saved; where Voice Info moves neighbouring groups so that each keeps a key, you are "
        "told and the command goes on. --lower G=KEY sets the lower key of key group G (from 2) "
        "as Voice Info's Lower Key lists do: earlier groups move down when they must.",
        CommandVoice },
    { "sample",
        "sample PROJECT.cmr G INDEX [--sample N] [--root NOTE] [--volume V] [--start FRAME] "
        "[--loop START|off] [--smooth on|off] [--channel left|mix|right]",
        "change a sample's settings, as Sample Info does",
        "Changes sample N (from 1, default 1) of the voice at INDEX of group G, saves the "
        "project and says what changed; a sound file is its own single sample.\n"
        "  --root NOTE      root key: a note number 0-127 or a name such as C3\n"
        "  --volume V       volume, 0-252\n"
        "  --start FRAME    first frame played\n"
        "  --loop START     loop from frame START to the loop's end (the end of the sound for "
        "a loop switched on); off: no loop\n"
        "  --smooth on|off  smooth attacks\n"
        "  --channel C      left, mix or right: what a stereo sample plays\n"
        "Refused as Sample Info refuses (volume above 252, a start frame or loop start past the "
        "sound's last frame): nothing is saved.",
        CommandSample },
    { "list", "list [--json] PROJECT.cmr",
        "show a project: card information, groups and files, sizes",
        "Line breaks and tabs in names and comments are shown as \\n, \\r and \\t; a project "
        "larger than its card shows by how much. With --json, a path whose bytes are not UTF-8 "
        "is also given exactly as pathBytes, in hexadecimal; each voice gives its key groups "
        "and its samples with their rate, frames, fine tune (in 1/256 cent) and Sample Info's "
        "settings; \"channel\" is what a voice or sample plays, as sample --channel names it: "
        "\"mix\" (a mono sample, or both channels mixed), \"left\" or \"right\", as in info "
        "--json.",
        CommandList },
    { "image", "image PROJECT.cmr -o CARD.img", "compile a project into a card image file",
        "Writes the raw card image: what the instrument's card receives, block by block. A "
        "project larger than the card, or than 16 megabytes, is questioned first (--yes / --no "
        "answer). The image is written beside CARD.img and takes its place only when complete: "
        "a failure or Ctrl-C leaves the file that was there before. " OUTPUT_HELP,
        CommandImage },
    { "unpack", "unpack CARD.img|CAPTURE.syx [-o DIR] | unpack CAPTURE.syx -o CARD.img",
        "read a card image or a captured transfer back into a project",
        "Makes a folder (DIR, default: the image's name beside it) holding a project you can edit "
        "and send again: the card's name, version, target and group names; one 16-bit WAV file "
        "for each sound the card holds, with its root key, fine tune and loop in a sampler "
        "chunk; a Cardmill instrument (.cmt) for each voice of several key groups or layers; a "
        "standard MIDI file for each sequence (its out-port flag in the project); the program "
        "bank as a SysEx (.syx) file. Names come from the card's voice and group names, made "
        "safe as file names and unique. A sample that several voices share is one WAV file "
        "played by all of them. Each sound's rate is not on the card: the common rate (48000, "
        "44100, 32000, 22050 Hz...) and root key that come closest are chosen, the rest kept as "
        "the sample's fine tune, so 'cardmill image' of the project gives back the card's bytes. "
        "What can't come back exactly is said.\n"
        "Everything is made in a folder beside DIR and moved in when complete: a failure leaves "
        "nothing behind. Files already in DIR are replaced only when the question about them is "
        "answered yes (--yes).\n"
        "CAPTURE.syx is a MIDI monitor's log of a transfer to the instrument (identity, erase and "
        "write-block messages, blocks sent again, in any order): its blocks are put back "
        "together first. Damaged messages are left out; missing blocks are named, and a card "
        "with holes is unpacked only with --yes (the holes read as zeros). With -o CARD.img the "
        "reassembled image is written instead of a project. Its messages must carry the maker "
        "ID (--maker-id, else the setting Hardware/MakerId or the built-in one); 'cardmill sim "
        "--record FILE' records such a capture.\n"
        "'cardmill info CARD.img' lists what a card holds without unpacking it.",
        CommandUnpack },
    { "play",
        "play PROJECT.cmr G INDEX | play --card CARD.img G INDEX [--keys K1,K2,... | --midi "
        "FILE.mid] [--velocity V] [--hold MS] [-o OUT.wav]",
        "hear a voice as the card will play it, before it is sent",
        "Plays voice INDEX of group G (k1-k8, d1-d3 or a group's name) from the card the "
        "project makes today (compiled as 'image' would, after any fit) or from a card image or "
        "capture: the key table and layers choose the sample for each key, the card's pitch "
        "word gives its pitch (root key, fine tune and rate together), the loop repeats while a "
        "key is held and the sample goes on to its end when it is let go, at the card's volume. "
        "What the card leaves open is done as samplers do: a released key of a keyboard voice "
        "fades over 80 ms, a drum voice's note plays to its end, velocity chooses the layer (its "
        "range split evenly, the softest layer first) and sets the level by its square.\n"
        "  --keys K1,K2,...  play these keys one after another (numbers 0-127 or names such as "
        "C3); without --keys or --midi, each key group's middle key and then a chord\n"
        "  --midi FILE.mid   play the notes of a standard MIDI file, every channel, through the "
        "voice\n"
        "  --velocity V      the keys' velocity, 1-127 (default 127)\n"
        "  --hold MS         how long each key is held, in milliseconds (default 1000)\n"
        "  -o OUT.wav        write a 16-bit mono WAV file at 48000 Hz instead of playing\n"
        "Without -o it plays through the sound server's default output (PulseAudio, or "
        "PipeWire's PulseAudio service); Ctrl-C stops it. " OUTPUT_HELP,
        CommandPlay },
    { "fit",
        "fit PROJECT.cmr [--card-size S] [--min-rate HZ] [--trim[=DB]] [--normalize] [--dry-run] "
        "[--dir DIR] | fit --undo PROJECT.cmr",
        "make a project fit its card: lower rates where least is lost, trim, normalise",
        "Prints the plan first: each sound's rate old -> new, frames trimmed, gain, bytes saved "
        "and the energy lost above the new rate's Nyquist frequency (dB below the sound's "
        "whole), then the totals. Rates come down step by step (48000 44100 32000 24000 22050 "
        "16000 11025 8000), each time where the least is lost, until the project fits.\n"
        "  --card-size S   fit this card size instead of the project's (the project keeps its "
        "own)\n"
        "  --min-rate HZ   no sound goes below this rate (default 22050)\n"
        "  --trim[=DB]     cut leading and trailing frames below DB dBFS (default -60), never "
        "past a start frame, into a loop or past its end\n"
        "  --normalize     raise each sound's peak to full scale, lowering its volume by as much\n"
        "  --dry-run       print the plan and change nothing\n"
        "  --dir DIR       where the new sounds go (default PROJECT.fit/ beside the project)\n"
        "  --undo          put back the project as it was before its last fit (kept beside it as "
        "PROJECT.before-fit.cmr); asks first when the project was saved again since\n"
        "The original files are never changed: the new sounds are 16-bit WAV files, put in the "
        "project in place of the old ones with their settings (start and loop scaled to the new "
        "rate, the loop start moved to a zero crossing within 4 frames); the project is saved. "
        "The plan's total after is what the project then takes, to the byte. An instrument "
        "(.cmt, SampleCell, SFZ, a library's preset) is written anew beside them as a .cmt file "
        "with its key groups and layers; each sample of a SoundFont, DLS or DecentSampler "
        "library is a sound of its own; a sound played in several places is changed for all of "
        "them alike (normalised only where played once); raw data is left as it is. A fitted "
        "file names its original, and a later fit resamples the original again, not the copy. "
        "A project that can't fit even at the lowest rates is said so and left as it was "
        "(exit 1).",
        CommandFit },
    { "dump", "dump PROJECT.cmr -o DUMP.xls", "write the tab-separated text dump of a project",
        "The listing of the project, its instruments and samples, bank and sequences that a "
        "spreadsheet opens: tab-separated columns, CR LF line ends, UTF-8 (with a byte order mark "
        "when it holds characters beyond ASCII, so spreadsheets read them right). " OUTPUT_HELP,
        CommandDump },
    { "instrument",
        "instrument -o INST.cmt [--keys auto|U1,U2,...] SOUND... | --sfz OUT.sfz "
        "[--copy-samples] [--preset P] INSTRUMENT",
        "write an instrument file from sound files, or an instrument as SFZ",
        "Writes a Cardmill instrument (.cmt) whose key groups are the sound files in the order "
        "given, the last one at the top of the keyboard. Each sound gets its default parameters "
        "(loop, start marker, root key). The instrument file refers to the sound files by path; "
        "it holds no sample data. A file that is no sound file can be taken as 16-bit mono 48 kHz "
        "data: you are asked first, as by add.\n"
        "Without --keys every key group but the last is one key wide at the top of the keyboard. "
        "--keys auto splits the keyboard half-way between neighbouring sounds' root keys; --keys "
        "U1,U2,... gives the upper key of each sound's group, rising, the last 127 (note numbers "
        "or names such as C3).\n"
        "--sfz OUT.sfz writes an instrument that Cardmill reads (.cmt, SampleCell, SFZ, "
        "DecentSampler, a SoundFont's or DLS file's preset chosen with --preset P as by add) as an "
        "SFZ "
        "file for today's software samplers: one region per key group and layer (layers split "
        "the velocities evenly, the softest first), with the root key, tune, volume, start "
        "offset and loop of each sample. The sample paths are relative to the SFZ file; with "
        "--copy-samples the sound files are copied into its folder (a number added to a name "
        "already taken) instead of referred to where they are; the samples inside a library are "
        "always "
        "written into its folder as WAV files. What SFZ can't say (a single "
        "channel of a stereo file, sub-cent tuning) is named on stderr.\n" OUTPUT_HELP,
        CommandInstrument },
    { "prefs", "prefs [--json] [KEY[=VALUE]...]", "show or change the preferences",
        "Without arguments prints every preference. KEY prints one; KEY=VALUE changes it and "
        "stores it in the settings file. Keys:\n"
        "  MidiInputPort, MidiOutputPort   MIDI port names (text)\n"
        "  StartMarker                     marker whose position becomes a sound's start (text, "
        "at most 31 characters; default \"start here\")\n"
        "  AllowPhantoms                   1: identical sounds share card data (default 1)\n"
        "  AllowPhantomsInAnyFolder        1: match duplicates by file name in any folder, 0: "
        "only within one folder (default 1)\n"
        "  EraseSectorBeforeWriting        1: erase each card sector before writing (default "
        "1)\n"
        "  SplitStereoFiles                1: split stereo sounds into two items (default 0)\n"
        "  DefaultCardSizeToken            card size of a new project and of erase: 128K 256K "
        "512K 1M 2M 4M 8M 16M 24M 32M or 0-9 (default 1, 256 K)",
        CommandPrefs },
    { "ports", "ports [--json]", "list MIDI inputs and outputs",
        "Lists the ALSA sequencer's MIDI inputs and outputs by name, without ALSA's client "
        "numbers (such as 20:0), which change between boots; without a sequencer it says so. "
        "Raw MIDI devices (/dev/snd/midiC1D0) follow, and the virtual instrument sim comes last.\n"
        "--port, --in and --out of the MIDI commands take a name from this list (or a unique part "
        "of it), sim, or the path of a raw MIDI device or pty, listed or not.\n"
        "--json prints {\"inputs\": [...], \"outputs\": [...], \"alsa\": true or false}.",
        CommandPorts },
    { "send",
        "send PROJECT.cmr [--port P] [--pace B] [--no-erase] [--resume | --since PREVIOUS.img]",
        "compile a project and write the card in the instrument",
        "Compiles the project and sends the card image to the instrument over MIDI, block by "
        "block. Each 128 KB sector is erased first while the preference "
        "EraseSectorBeforeWriting is 1 (--no-erase: not in this run); an instrument that can't "
        "erase by command is written over without erasing. Every message is acknowledged by the "
        "instrument; one that is lost or refused is sent again twice before you are asked "
        "(Retry/Cancel; --yes retries up to --retries times). The progress line shows the sector, "
        "the block, the percentage and the time left.\n" PORT_HELP
        "Each transfer is recorded in the transfer journal beside the settings, under the "
        "instrument's identity (family, model, firmware): the image's hash, the card size and "
        "every sector whose blocks were all acknowledged.\n"
        "--resume: after a transfer that stopped, write only the sectors the journal doesn't "
        "show on the card (each erased first). The journal must be of this image and this card "
        "size; otherwise you are told why and the whole card is written. The journal can't see "
        "a card swapped in the instrument's slot: --resume trusts that the card written last is "
        "still there, and the end says how many sectors needed writing. For another card, send "
        "without --resume.\n"
        "--since PREVIOUS.img: the card holds PREVIOUS.img (made by 'cardmill image' before "
        "the change, or the image last sent; a project or any other file is refused); erase and "
        "write only the sectors that differ from "
        "it. A journal that says the card holds something else wins: the whole card is written.\n"
        "A card larger than 16 MB can't be written over MIDI (the protocol names only 128 "
        "sectors) and is refused before anything is sent. Ctrl-C stops after the current "
        "message; the card keeps what was written, and you are told how far it got (--resume "
        "then writes the rest). Exit status 3 when a question was answered "
        "Cancel (for example, the instrument stopped answering).",
        CommandSend },
    { "send-image",
        "send-image CARD.img [--port P] [--pace B] [--no-erase] [--resume | --since PREVIOUS.img]",
        "write an image file to the card in the instrument",
        "Sends an image file (made by 'cardmill image') to the instrument, as send does, with "
        "the same --resume and --since. You are first asked to confirm the file's size; a last "
        "block shorter than 1024 bytes is filled up with FF bytes, the value of erased "
        "memory.\n" PORT_HELP,
        CommandSendImage },
    { "erase", "erase [--card-size S] [--port P] [--pace B]", "erase the card in the instrument",
        "Erases the whole card, sector by sector (a 4 MB card is 32 sectors). The card size "
        "comes from --card-size, else from the preference DefaultCardSizeToken (the instrument "
        "doesn't tell it; a card past that size keeps its data there, and you are told). A smaller "
        "card is erased whole. An instrument that can't erase by command gets the start of its "
        "card written over instead. Nothing brings an erased card back, so you are asked first "
        "(Enter cancels; --yes erases without asking, and without a terminal to ask nothing is "
        "erased), and told at the end what was erased.\n" PORT_HELP,
        CommandErase },
    { "test-midi", "test-midi [--port P] [--pace B]", "check the MIDI link to the instrument",
        "Sends an identity request and prints the instrument's answer, such as 'Orvane Device: "
        "Zelta Grand v01.00'. When nothing answers, the request is sent four times 3 seconds "
        "apart before you are asked whether to retry.\n" PORT_HELP,
        CommandTestMidi },
    { "sim", "sim --pty [instrument options]", "run the virtual instrument on a pseudo-terminal",
        "Plays the instrument's side of the SysEx link so that everything can be tried without "
        "hardware. With --pty it creates a pseudo-terminal, prints its path (such as /dev/pts/7) "
        "on stdout and serves it until Ctrl-C or SIGTERM; give that path to --port of the MIDI "
        "commands of this or another program. Programs may open and close the pty in turn: "
        "replies a program left unread are thrown away when it closes the pty. Inside one run of "
        "cardmill the same instrument is the port sim, with the same options: --port sim, or "
        "--port \"sim --card FILE ...\".\n"
        "  --card FILE         keep the card's contents in FILE: read when it exists (the rest of "
        "the card erased), and every erase and block written to it before the instrument "
        "answers, so the file holds all the instrument acknowledged however the program ends\n"
        "  --card-size S       card capacity: 128K 256K 512K 1M 2M 4M 8M 16M 24M 32M or 0 to 9 "
        "(default 4M); the card starts erased (all FF) unless FILE exists\n"
        "  --family F          zelta, percula or tinyloop (default zelta)\n"
        "  --model N           model number, 0-127 (default 1)\n"
        "  --firmware ABCD     four characters of version (default 0100)\n"
        "  --baud N            emulate a MIDI link of N baud in both directions, 10 bits a byte "
        "(31250 is a DIN MIDI cable; default: as fast as possible)\n"
        "  --interface-buffer N  a USB-MIDI interface before the wire that holds N bytes: bytes "
        "the program writes while N wait for the wire are lost, unnoticed (needs --baud)\n"
        "  --lose-every N      a USB-MIDI interface that loses the N-th, 2N-th ... byte of every "
        "message longer than N bytes, unnoticed; a pause of 1 ms between the pieces of a message "
        "starts the count again, so a paced send (--pace) gets through\n"
        "  --write-ms N        time the instrument takes to store a block (default 0)\n"
        "  --erase-ms N        time it takes to erase a sector (default 0)\n"
        "  --no-card           refuse card messages with reason 0 (no card)\n"
        "  --write-protected   refuse them with reason 1 (write protected)\n"
        "  --no-erase-command  refuse the erase command; writes are then accepted over anything\n"
        "  --active-sensing    send Active Sensing (0xFE) every 300 ms, as many instruments do\n"
        "  --clock             put a timing-clock byte (0xF8) inside every reply, as an "
        "instrument sending MIDI clock does\n"
        "  --fault KIND:N      (repeatable) at the N-th message (from 1): drop (no reply), "
        "corrupt (a bit flipped on arrival, so the checksum fails), refuse:R (refused with "
        "reason R), silent (no reply from then on)\n"
        "  --log FILE          one line per message received and reply sent, written as it "
        "happens\n"
        "  --record FILE       every byte received, as it arrives (a capture that 'cardmill "
        "unpack' reads)\n"
        "The instrument refuses with reason 4 a block written over data while the erase command "
        "works, with reason 3 a block whose checksum is wrong, and with reason 5 an address past "
        "the card's end. The global --maker-id sets the maker in its messages.\n"
        "Exit status: 0 when ended by Ctrl-C or SIGTERM with the card saved (128 + the signal's "
        "number when it couldn't be saved), 1 when the pty couldn't be made or the card or log "
        "file can't be used, 2 for a usage error (sim without --pty is one).",
        CommandSim },
};

/// The width help is wrapped to: COLUMNS when the shell gives it (40 at least; a large number
/// leaves every line whole, as the manual page's maker wants it), else 80.
std::size_t Columns()
{
    const char* text = std::getenv("COLUMNS");
    std::size_t columns = 0;
    if (text)
        std::from_chars(text, text + std::strlen(text), columns);
    return columns >= 40 ? columns : 80;
}

/// One line wrapped at blanks to the terminal's width. Continuation lines start at `hang` when
/// it is given; otherwise under the second column of a table row (after the first run of two
/// or more blanks), or under the text of an indented line.
std::string WrapLine(std::string_view line, std::size_t hang = 0)
{
    const std::size_t indent = std::min(line.find_first_not_of(' '), line.size());
    std::size_t continuation = hang > 0 ? hang : indent;
    if (hang == 0 && indent > 0) {
        const auto gap = line.find("  ", indent);
        const auto column = gap == std::string_view::npos ? gap : line.find_first_not_of(' ', gap);
        if (column != std::string_view::npos && column < 40)
            continuation = column;
    }
    const std::size_t columns = Columns();
    std::string out;
    std::string_view rest = line;
    std::size_t width = columns;
    while (rest.size() > width) {
        auto cut = rest.rfind(' ', width);
        if (cut == std::string_view::npos || cut == 0)
            cut = rest.find(' ', width);
        if (cut == std::string_view::npos)
            break;
        out.append(rest.substr(0, cut)).append("\n").append(continuation, ' ');
        rest = rest.substr(cut);
        rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
        width = columns - continuation;
    }
    return out.append(rest).append("\n");
}

/// Each line of a text wrapped.
std::string Wrap(std::string_view text)
{
    std::string out;
    while (!text.empty()) {
        const auto end = text.find('\n');
        out += WrapLine(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return out;
}

const Command* FindCommand(const std::string& name)
{
    for (const auto& command : kCommands)
        if (name == command.name)
            return &command;
    return nullptr;
}

void PrintHelp()
{
    std::fputs(Wrap("Cardmill " CARDMILL_VERSION " prepares the memory cards of the Zelta "
                    "Synthesizer and the Percula drum module: sounds, instruments, sequences and "
                    "program banks compiled into a card image.")
                   .c_str(),
        stdout);
    std::printf("\nUsage: cardmill [GLOBAL OPTIONS] COMMAND [ARGUMENTS]\n\nCommands:\n");
    constexpr std::size_t kSynopsisColumn = 34;
    for (const auto& command : kCommands) {
        // A long synopsis stands on a line of its own, its summary under the column below it.
        std::string line = "  " + std::string(command.synopsis);
        if (line.size() + 1 > kSynopsisColumn)
            std::fputs(WrapLine(line, 6).c_str(), stdout), line.clear();
        line.resize(kSynopsisColumn, ' ');
        std::fputs(WrapLine(line + command.summary, kSynopsisColumn).c_str(), stdout);
    }
    std::fputs(
        Wrap("\nGlobal options (before or after the command):\n"
             "  --yes, --no          answer every question with OK/Yes/Retry, or with Cancel/No; "
             "without them questions are asked on the terminal (Cancel when stdin is not a "
             "terminal): type the letter in brackets, or y / n, or Enter for the answer the "
             "question names (Cancel or No where the other answer would lose data or write a "
             "wrong card)\n"
             "  --retries N          answer Retry at most N times in one run (default 3)\n"
             "  --config-dir DIR     settings folder (default $XDG_CONFIG_HOME/Orvane Inc.; also "
             "CARDMILL_CONFIG_DIR)\n"
             "  --search-dir DIR     (repeatable) where to look for files that a project or "
             "instrument names when they have moved\n"
             "  --json               machine-readable output of info, list, prefs and ports\n"
             "  -q, --quiet          no progress and no lines telling what was done; warnings, "
             "questions and errors remain\n"
             "  --progress           progress as plain lines on stderr even when it is not a "
             "terminal (on a terminal it is one live line)\n"
             "  --maker-id HEX6      the maker's SysEx manufacturer identifier (default 00000E)\n"
             "\nExit status: 0 success, 1 failure, 2 usage error, 3 a question was answered Cancel "
             "or No. 'cardmill COMMAND --help' describes a command.")
            .c_str(),
        stdout);
}

void PrintCommandHelp(const Command& command)
{
    std::string summary = command.summary;
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    std::fputs(WrapLine(std::string("Usage: cardmill ") + command.synopsis, 16).c_str(), stdout);
    std::printf("\n%s.\n", summary.c_str());
    if (*command.details)
        std::printf("\n%s", Wrap(command.details).c_str());
}

std::optional<MakerId> ParseMakerId(const std::string& text)
{
    if (text.size() != 6)
        return std::nullopt;
    MakerId id {};
    for (std::size_t i = 0; i < 3; ++i) {
        unsigned value = 0;
        if (std::sscanf(text.c_str() + 2 * i, "%2x", &value) != 1 || value > 0x7F)
            return std::nullopt;
        id[i] = static_cast<std::uint8_t>(value);
    }
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    return id;
}

void OnSignal(int number)
{
    gSignal = number;
    gInterrupted = true;
}

/// Ctrl-C and SIGTERM ask the running operation to stop at its next step; a second one ends the
/// program at once (the handler is reset). No system call is restarted, so a question waiting
/// for the terminal's answer returns at once (as Cancel).
void CatchStopSignals()
{
    struct sigaction action { };
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

} // namespace

std::optional<std::string> ParsedArgs::Get(const std::string& name) const
{
    for (auto it = options.rbegin(); it != options.rend(); ++it)
        if (it->first == name)
            return it->second;
    return std::nullopt;
}

std::vector<std::string> ParsedArgs::All(const std::string& name) const
{
    std::vector<std::string> values;
    for (const auto& [key, value] : options)
        if (key == name)
            values.push_back(value);
    return values;
}

ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<std::string>& valued,
    const std::vector<std::string>& flags)
{
    ParsedArgs parsed;
    const auto known = [](const std::vector<std::string>& list, const std::string& name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') {
            parsed.rest.push_back(arg);
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const auto equals = arg.find('=');
            arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            inlineValue = arg.substr(equals + 1);
        }
        if (known(flags, name) && !inlineValue) {
            parsed.options.emplace_back(name, "");
        } else if (known(valued, name)) {
            if (inlineValue) {
                parsed.options.emplace_back(name, *inlineValue);
            } else if (i + 1 < args.size()) {
                parsed.options.emplace_back(name, args[++i]);
            } else {
                parsed.error = "option " + name + " needs a value";
                return parsed;
            }
        } else {
            parsed.error = "unknown option " + arg;
            return parsed;
        }
    }
    return parsed;
}

int UsageError(const std::string& command, const std::string& message)
{
    const std::string who = command.empty() ? "cardmill" : "cardmill " + command;
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", who.c_str(), message.c_str(), who.c_str());
    return kUsage;
}

CliApp::CliApp(const CliOptions& cliOptions)
    : options(cliOptions)
    , prompter(cliOptions.answers, cliOptions.retries, stdin, stderr, &gInterrupted)
    , progress(gInterrupted, stderr, cliOptions.progress)
    , finder(cliOptions.searchDirs)
    , link(prompter)
{
    prompter.SetQuiet(cliOptions.progress == ProgressShown::Never);
}

CliApp::~CliApp()
{
    progress.Finish();
    if (controller)
        controller->GetServices().locator = nullptr;
    controller.reset();
}

bool CliApp::Start()
{
    const std::string folder = IniSettingsStore::ConfigDirectory(options.configDir);
    settings = std::make_unique<IniSettingsStore>(folder + "/" + IniSettingsStore::kFileName);
    controller = std::make_unique<MCardmill>(Platform { prompter, clock, *settings }, ui, pending);
    if (!controller->Startup(&link)) {
        std::fprintf(stderr, "cardmill: not enough memory to start\n");
        return false;
    }
    Services& services = controller->GetServices();
    services.SetProgress(&progress);
    locator = std::make_unique<MissingFileLocator>(prompter, &finder);
    services.locator = locator.get();
    if (options.makerId)
        services.makerId = *options.makerId;
    return true;
}

void CliApp::Inform(const std::string& text)
{
    if (options.progress == ProgressShown::Never)
        return;
    progress.Finish();
    std::fprintf(stderr, "%s\n", text.c_str());
}

int CliApp::Finish(bool succeeded)
{
    progress.Finish();
    if (!succeeded)
        return prompter.Refused() ? kRefused : kFailed;
    return kSuccess;
}

int RunCli(int argc, char** argv)
{
    CliOptions options;
    std::vector<std::string> words(argv + 1, argv + argc);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 >= words.size()) {
                UsageError(options.command, std::string("option ") + name + " needs a value");
                return std::nullopt;
            }
            return words[++i];
        };
        if (word == "--yes" || word == "--no") {
            const auto answers = word == "--yes" ? AnswerPolicy::Yes : AnswerPolicy::No;
            if (options.answers != AnswerPolicy::Ask && options.answers != answers)
                return UsageError(options.command, "--yes and --no can't be given together");
            options.answers = answers;
        } else if (word == "-q" || word == "--quiet") {
            options.progress = ProgressShown::Never;
        } else if (word == "--progress") {
            if (options.progress != ProgressShown::Never)
                options.progress = ProgressShown::Always;
        } else if (word == "--json") {
            options.json = true;
        } else if (word == "--help" || word == "-h") {
            options.help = true;
        } else if (word == "--version" && options.command.empty()) {
            // After a command's name, --version is the card's version (new, set).
            std::printf("cardmill %s\n", CARDMILL_VERSION);
            return kSuccess;
        } else if (word == "--retries") {
            const auto text = value("--retries");
            if (!text)
                return kUsage;
            const auto n = ParseNumber(*text, 0, 1000);
            if (!n)
                return UsageError(options.command, "--retries takes a number from 0 to 1000");
            options.retries = static_cast<int>(*n);
        } else if (word == "--config-dir") {
            const auto text = value("--config-dir");
            if (!text)
                return kUsage;
            options.configDir = *text;
        } else if (word == "--search-dir") {
            const auto text = value("--search-dir");
            if (!text)
                return kUsage;
            options.searchDirs.push_back(*text);
        } else if (word == "--maker-id") {
            const auto text = value("--maker-id");
            if (!text)
                return kUsage;
            options.makerId = ParseMakerId(*text);
            if (!options.makerId)
                return UsageError(options.command,
                    "--maker-id takes six hex digits, each byte below 80 (e.g. 00000E)");
        } else if (options.command.empty() && !(word.size() > 1 && word[0] == '-')) {
            options.command = word;
        } else if (options.command.empty()) {
            return UsageError("", "unknown option " + word);
        } else {
            options.args.push_back(word);
        }
    }

    if (options.command.empty()) {
        PrintHelp();
        return options.help ? kSuccess : kUsage;
    }
    if (options.command == "help") {
        if (options.args.empty()) {
            PrintHelp();
            return kSuccess;
        }
        const Command* command = FindCommand(options.args.front());
        if (!command)
            return UsageError("help", "no command named '" + options.args.front() + "'");
        PrintCommandHelp(*command);
        return kSuccess;
    }
    const Command* command = FindCommand(options.command);
    if (!command)
        return UsageError("", "no command '" + options.command + "'");
    if (options.help) {
        PrintCommandHelp(*command);
        return kSuccess;
    }

    CatchStopSignals();
    CliApp app(options);
    if (!app.Start())
        return kFailed;
    const int status = command->run(app);
    // A command that finished its work before it saw the signal succeeded; any other ends as
    // stopped, whatever it was doing (the operations have removed what they left unfinished).
    if (gSignal != 0 && status != kSuccess) {
        app.progress.Finish();
        std::fprintf(stderr, "cardmill: stopped\n");
        return 128 + gSignal;
    }
    return status;
}

} // namespace cardmill
