#pragma once

#include "model/instrument/MInstFile.h"

#include <optional>
#include <string>
#include <vector>

namespace cardmill {

class JsonWriter;

/// A key typed on the command line: a MIDI note number, or a note name with its octave (C3,
/// F#2, Bb-1; C-2 is 0, C3 is 60, G8 is 127). Names reach B8 (131) as the dialogs' note and
/// octave lists do, so that the checks, not the parser, refuse keys above G8; nothing when the
/// text is no key.
std::optional<int> ParseKey(const std::string& text);
/// Upper keys of key groups separated by commas: nothing unless each is a key and the last is
/// 127, since the last group always reaches the top of the keyboard.
std::optional<std::vector<int>> ParseKeyList(const std::string& text);
/// left, mix or right for a channel choice (1, 0, 2).
const char* ChannelName(std::uint16_t channel);

/// The fields that `list --json` shows of a voice: channel, key groups, the samples' settings.
void WriteVoiceJson(JsonWriter& json, MInstFile& voice);
/// One line under a voice in `list`: its channel, key groups and samples' settings.
std::string VoiceSummary(MInstFile& voice);

} // namespace cardmill
