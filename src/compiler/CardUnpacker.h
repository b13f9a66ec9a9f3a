#pragma once

#include "compiler/CardImageReader.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cardmill {

class MCardmill;
class ProgressView;

/// The sequence data of the card as a standard MIDI file that converts back to the same bytes;
/// `pacing` counts the SysEx bytes of the sequences before it (0 for the card's first);
/// `notExact` gets a sentence when that can't be.
std::vector<std::uint8_t> SequenceToMidiFile(std::span<const std::uint8_t> sequence,
    std::uint32_t& pacing, std::vector<std::string>& notExact);

/// A SysEx capture of the instrument's bank dump that compiles to the card's bank.
std::vector<std::uint8_t> BankToSysexFile(
    const CardBank& bank, const std::array<std::uint8_t, 3>& maker);

/// A file name of the card's text: letters, digits and a few marks kept, the rest '_', never
/// empty, never one of `taken` (compared without regard to case); the name is added to it.
std::string SafeFileName(
    const std::string& text, const std::string& extension, std::vector<std::string>& taken);

/// Unpacks a card image into a folder: a project (`<card name>.cmr`), a WAV file for each stretch
/// of sample data, a `.cmt` instrument for each voice of several key groups or layers, a MIDI
/// file for each sequence and the bank as a `.syx` capture. Everything is made in a folder beside
/// `folder` and moved into it only when complete; files already in `folder` are replaced only
/// when the prompter's question allows it. The controller's project (left empty by the caller) is
/// built and saved; its prompter is told what fails. `projectPath` gets the project's path.
class CardUnpacker {
public:
    CardUnpacker(MCardmill& controller, ProgressView& progress);

    bool Unpack(std::span<const std::uint8_t> image, const CardContents& card,
        const std::string& folder, std::string& projectPath);

private:
    bool BuildProject(
        const CardContents& card, const std::string& temporary, const std::string& projectName);
    bool Fail(const std::string& text);

    MCardmill& controller;
    ProgressView& progress;
    std::vector<std::string> regionFiles; // per region
    std::vector<std::string> voiceFiles; // per voice: its WAV (a sound) or .cmt
    std::vector<std::string> sequenceFiles;
    std::string bankFile;
    std::string finalFolder;
};

} // namespace cardmill
