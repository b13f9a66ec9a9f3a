// Fuzz target: the card image reader. Whatever it accepts must be laid out as the compiler lays a
// card out: every sample inside a file of the card's data, every file's frames within its words.
// Each voice it reads is then played, a low and a high key held and let go, as `play` would.

#include "compiler/CardImageReader.h"
#include "compiler/VoicePlayer.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    const std::span<const std::uint8_t> image(data, size);
    std::string error;
    const auto card = ReadCardImage(image, error);
    if (!card) {
        if (error.empty())
            std::abort();
        return 0;
    }
    for (const CardRegion& region : card->regions) {
        if (region.wordAddress * 2 + std::uint64_t { region.words } * 2 > card->imageBytes)
            std::abort();
        const auto frames = RegionFrames(image, region);
        if (frames.size() != region.frames)
            std::abort();
    }
    for (const CardVoice& voice : card->voices)
        for (const CardSample& sample : voice.samples) {
            if (sample.region < 0 || std::size_t(sample.region) >= card->regions.size())
                std::abort();
            const CardRegion& region = card->regions[std::size_t(sample.region)];
            if (sample.loopEnd + 8 > region.words + region.lead)
                std::abort();
            TuningOfPitchWord(sample.pitchWord);
        }
    for (const CardVoice& voice : card->voices) {
        VoicePlayer player(image, *card, voice);
        std::vector<float> frames(64);
        player.NoteOn(0, 1);
        player.NoteOn(127, 127);
        player.Render(frames);
        player.NoteOff(0);
        player.NoteOff(127);
        player.Render(frames);
    }
    return 0;
}
