// Writes a WAV or AIFF file through libsndfile's own API, for the end-to-end tests: sample values
// follow a fixed pattern, loops go into the sampler chunk (SF_INSTRUMENT) and named markers into
// the cue list (SF_CUES, written as an AIFF MARK chunk).
//
//   sndfile_writer OUT FRAMES RATE CHANNELS BITS [root N] [loop START END]... [marker POS NAME]...
//
// The sample of frame i, channel c is the 16-bit value (i * 263 + c * 101) mod 65536, written
// with sf_write_short (so libsndfile scales it to the file's sample size).

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sndfile.h>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: sndfile_writer OUT FRAMES RATE CHANNELS BITS [options]\n");
        return 2;
    }
    const std::string path = argv[1];
    const long frames = std::atol(argv[2]);
    const int rate = std::atoi(argv[3]);
    const int channels = std::atoi(argv[4]);
    const int bits = std::atoi(argv[5]);
    const auto endsWith = [&path](const std::string& end) {
        return path.size() >= end.size()
            && path.compare(path.size() - end.size(), end.size(), end) == 0;
    };
    const bool aiff = endsWith(".aif") || endsWith(".aiff");

    SF_INFO info {};
    info.samplerate = rate;
    info.channels = channels;
    const int subtype = bits == 8 ? (aiff ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_U8)
        : bits == 24              ? SF_FORMAT_PCM_24
        : bits == 32              ? SF_FORMAT_PCM_32
                                  : SF_FORMAT_PCM_16;
    info.format = (aiff ? SF_FORMAT_AIFF : SF_FORMAT_WAV) | subtype;

    SF_INSTRUMENT instrument {};
    instrument.basenote = 60;
    instrument.velocity_hi = 127;
    instrument.key_hi = 127;
    SF_CUES cues {};
    bool hasInstrument = false;
    for (int i = 6; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "root" && i + 1 < argc) {
            instrument.basenote = static_cast<char>(std::atoi(argv[++i]));
            hasInstrument = true;
        } else if (option == "loop" && i + 2 < argc) {
            auto& loop = instrument.loops[instrument.loop_count++];
            loop.mode = SF_LOOP_FORWARD;
            loop.start = static_cast<unsigned>(std::atol(argv[++i]));
            loop.end = static_cast<unsigned>(std::atol(argv[++i]));
            loop.count = 0;
            hasInstrument = true;
        } else if (option == "marker" && i + 2 < argc) {
            auto& cue = cues.cue_points[cues.cue_count];
            cue.indx = static_cast<std::int32_t>(++cues.cue_count);
            cue.position = static_cast<std::uint32_t>(std::atol(argv[++i]));
            cue.sample_offset = cue.position;
            std::strncpy(cue.name, argv[++i], sizeof cue.name - 1);
        } else {
            std::fprintf(stderr, "sndfile_writer: unknown option %s\n", argv[i]);
            return 2;
        }
    }

    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        std::fprintf(stderr, "sndfile_writer: %s\n", sf_strerror(nullptr));
        return 1;
    }
    if (hasInstrument && !sf_command(file, SFC_SET_INSTRUMENT, &instrument, sizeof instrument))
        std::fprintf(stderr, "sndfile_writer: the instrument was not accepted\n");
    if (cues.cue_count && !sf_command(file, SFC_SET_CUE, &cues, sizeof cues))
        std::fprintf(stderr, "sndfile_writer: the cues were not accepted\n");

    std::vector<short> samples(static_cast<std::size_t>(frames * channels));
    for (long i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[static_cast<std::size_t>(i * channels + c)]
                = static_cast<short>(static_cast<std::uint16_t>((i * 263 + c * 101) & 0xFFFF));
    const sf_count_t written = sf_writef_short(file, samples.data(), frames);
    sf_close(file);
    return written == frames ? 0 : 1;
}
