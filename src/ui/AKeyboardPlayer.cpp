#include "ui/AKeyboardPlayer.h"

#include "compiler/MCompileEngine.h"
#include "model/MProject.h"
#include "model/instrument/MInstFile.h"
#include "platform/AudioOutput.h"
#include "platform/ProgressView.h"

#include <algorithm>
#include <cmath>

namespace cardmill {

AKeyboardPlayer::AKeyboardPlayer(AudioOutput& audio, QObject* parent)
    : QObject(parent)
    , output(audio)
{
    output.SetBufferMs(2 * kAheadMs);
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(3);
    connect(&timer, &QTimer::timeout, this, &AKeyboardPlayer::Feed);
}

AKeyboardPlayer::~AKeyboardPlayer()
{
    if (player)
        output.Stop();
}

bool AKeyboardPlayer::Load(
    MProject& project, Prompter& prompter, const MInstFile& voice, std::string& error)
{
    int group = -1, index = -1;
    for (int g = 0; g < MProject::kSoundGroups && group < 0; ++g)
        for (int i = 0; i < project.CountItems(g); ++i)
            if (project.GetItem(g, i) == &voice) {
                group = g;
                index = i;
                break;
            }
    if (group < 0) {
        error = "the voice is not in the project";
        return false;
    }
    MCompileEngine engine(project, prompter);
    NullProgressView progress;
    auto compiled = CompileToMemory(project, engine, progress);
    if (!compiled) {
        error = "the project could not be compiled";
        return false;
    }
    image = std::move(*compiled);
    const auto card = ReadCardImage(image, error);
    if (!card)
        return false;
    const auto found = std::find_if(card->voices.begin(), card->voices.end(),
        [&](const CardVoice& v) { return v.group == group && v.position == index + 1; });
    if (found == card->voices.end()) {
        error = "the voice is not on the card";
        return false;
    }
    if (!output.Start(VoicePlayer::kRate, 1, error))
        return false;
    player.emplace(image, *card, *found);
    written = 0;
    clock.start();
    timer.start();
    Feed();
    return true;
}

void AKeyboardPlayer::SetUpperKeys(const std::vector<std::uint8_t>& keys)
{
    if (player)
        player->SetUpperKeys(keys);
}

void AKeyboardPlayer::Key(int key, bool down)
{
    if (!player)
        return;
    if (down)
        player->NoteOn(key);
    else
        player->NoteOff(key);
    Feed();
}

void AKeyboardPlayer::Feed()
{
    if (!player)
        return;
    // What was written runs at most kAheadMs ahead of the clock, never more: a key is heard
    // after what is already queued. The clock, not the stream's own account of its buffer,
    // says how far playing got: the sound server's buffer is not the stream's to see.
    const auto ahead = static_cast<std::int64_t>(VoicePlayer::kRate * kAheadMs / 1000);
    const std::int64_t due = clock.nsecsElapsed() * VoicePlayer::kRate / 1000000000 + ahead;
    if (due <= written)
        return;
    const auto frames = static_cast<std::size_t>(
        std::min<std::int64_t>(due - written, static_cast<std::int64_t>(output.Room())));
    if (frames == 0)
        return;
    mix.assign(frames, 0.0f);
    player->Render(mix);
    samples.resize(frames);
    std::transform(mix.begin(), mix.end(), samples.begin(), [](float v) {
        return static_cast<std::int16_t>(
            std::lround(std::clamp(v * 32768.0f, -32768.0f, 32767.0f)));
    });
    output.Write(samples);
    written += static_cast<std::int64_t>(frames);
    // Behind the clock (the stream took less than was due): it catches up from here, not by
    // playing everything missed.
    if (due - written > ahead)
        written = due - ahead;
}

} // namespace cardmill
