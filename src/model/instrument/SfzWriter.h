#pragma once

#include <string>
#include <vector>

namespace cardmill {

class ASafeFile;
class MInstFileInstrument;
class Prompter;

/// How the samples of a written SFZ file are reached.
enum class SfzSamples {
    Reference, // the sample= paths lead to the sound files where they are
    Copy, // the sound files are copied into the SFZ file's folder
};

/// Writes a loaded instrument as an SFZ file: one region per key group and layer with standard
/// opcodes only (sample paths relative to the file with '/', keys as note numbers, tune in
/// cents, volume in dB, offsets and loop points in frames). What SFZ can't say of the
/// instrument is added to `notes`. Refuses (with a message, writing nothing) an instrument
/// without samples or a copy that fails.
bool WriteSfzFile(ASafeFile& writer, Prompter& prompter, const std::string& destination,
    MInstFileInstrument& instrument, SfzSamples samples, std::vector<std::string>& notes);

/// Velocity range of layer `layer` of `layers` (1 to 3) as the SFZ file gives it: the
/// velocities split evenly, the softest layer first.
std::pair<int, int> SfzLayerVelocities(int layer, int layers);

} // namespace cardmill
