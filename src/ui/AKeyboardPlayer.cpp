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
    MCompileEngine engine(project, prompter);
    NullProgressView progress;
    auto compiled = CompileToMemory(project, engine, progress);
    if (!compiled) {
        error = "the project could not be compiled";
        return false;
    }
    image = std::move(*compiled);
    return Start(project, voice, error);
}

bool AKeyboardPlayer::LoadAlone(
    MInstFile& voice, APrefs& prefs, Prompter& prompter, std::string& error)
{
    // A project of this voice alone, lent the file for as long as it compiles.
    MProject alone(prefs);
    const std::int16_t category = voice.GetCategory();
    voice.SetCategory(0);
    voice.UpdateCompiledSize();
    std::unique_ptr<MReadableFile> lent(&voice);
    alone.AddItem(std::move(lent));
    MCompileEngine engine(alone, prompter);
    NullProgressView progress;
    auto compiled = CompileToMemory(alone, engine, progress);
    bool started = false;
    if (compiled) {
        image = std::move(*compiled);
        started = Start(alone, voice, error);
    } else {
        error = "its samples could not be read";
    }
    alone.RemoveItem(&voice).release();
    voice.SetCategory(category);
    return started;
}

bool AKeyboardPlayer::Start(const MProject& project, const MInstFile& voice, std::string& error)
{
    int group = -1, index = -1;
    for (int g = 0; g < MProject::kSoundGroups && group < 0; ++g)
        for (int i = 0; i < project.CountItems(g); ++i)
            if (project.GetItem(g, i) == &voice) {
                group = g;
                index = i;
                break;
            }
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
    phraseMode = false;
    events.clear();
    written = 0;
    clock.start();
    timer.start();
    Feed();
    return true;
}

void AKeyboardPlayer::Play(std::vector<NoteEvent> phrase)
{
    if (!player)
        return;
    // Times from now, in frames of the clock, the first event last in the list.
    const double now = static_cast<double>(written) / VoicePlayer::kRate;
    for (NoteEvent& e : phrase)
        e.seconds += now;
    std::stable_sort(phrase.begin(), phrase.end(),
        [](const NoteEvent& a, const NoteEvent& b) { return a.seconds > b.seconds; });
    events = std::move(phrase);
    phraseMode = true;
    Feed();
}

void AKeyboardPlayer::Stop()
{
    timer.stop();
    if (player)
        output.Stop();
    player.reset();
    events.clear();
    phraseMode = false;
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
    // A phrase that has ended closes the output once its last sound has been heard.
    if (phraseMode && events.empty() && !player->Sounding()) {
        if (!output.Busy())
            Stop();
        return;
    }
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
    // A phrase's events take effect at their frames.
    std::size_t at = 0;
    while (at < frames) {
        while (!events.empty()
            && events.back().seconds * VoicePlayer::kRate
                < static_cast<double>(written + static_cast<std::int64_t>(at)) + 1) {
            if (events.back().velocity > 0)
                player->NoteOn(events.back().key, events.back().velocity);
            else
                player->NoteOff(events.back().key);
            events.pop_back();
        }
        std::size_t until = frames;
        if (!events.empty()) {
            const auto next
                = static_cast<std::int64_t>(std::ceil(events.back().seconds * VoicePlayer::kRate))
                - written;
            until = static_cast<std::size_t>(std::clamp<std::int64_t>(
                next, static_cast<std::int64_t>(at) + 1, static_cast<std::int64_t>(frames)));
        }
        player->Render(std::span(mix).subspan(at, until - at));
        at = until;
    }
    ToSamples(mix, samples);
    output.Write(samples);
    written += static_cast<std::int64_t>(frames);

    // Behind the clock (the stream took less than was due): it catches up from here, not by
    // playing everything missed.
    if (due - written > ahead)
        written = due - ahead;
}

} // namespace cardmill
