#include "model/sound/SampleEdit.h"

#include "model/TextFields.h"
#include "model/sound/MSoundFile.h"
#include "platform/Prompter.h"

#include <algorithm>

namespace cardmill {

SampleEdit::SampleEdit(MSoundFile& editedSample)
    : sample(editedSample)
{
    const SampleParams& params = sample.Params();
    smoothing = sample.GetSmoothing() != 0;
    channel = openedChannel = sample.GetChannel();
    looping = params.looping != 0;
    loopStart = looping ? params.loopStart : 0;
    rootKey = params.rootKey;
    startFrame = params.startFrame;
    volume = VolumeByte(params.volume);
}

bool SampleEdit::ChooseRoot(std::int64_t key, Prompter& prompter)
{
    if (key < 0 || key > 127) {
        ReportFailure(prompter, "The root note must be within the range C-2 to G8.");
        return false;
    }
    rootKey = key;
    return true;
}

std::int64_t SampleEdit::LoopStartLimit() const
{
    // The loop keeps its end (the end of the data for a loop switched on now); a loop start
    // at or past it would end the loop without a word.
    const std::int64_t frames = sample.GetFrameCount();
    const std::int64_t end
        = sample.Params().looping ? std::int64_t { sample.Params().loopEnd } : frames;
    return std::max<std::int64_t>(0, std::min(frames, end) - 1);
}

std::int64_t SampleEdit::StartFrameLimit() const
{
    // The last frame of the data; a loop that ends before the data does keeps the start at or
    // before the loop start, as the sample's own start setter requires.
    const std::int64_t frames = sample.GetFrameCount();
    std::int64_t limit = std::max<std::int64_t>(0, frames - 1);
    if (looping) {
        const std::int64_t end
            = sample.Params().looping ? std::int64_t { sample.Params().loopEnd } : frames;
        if (frames > end)
            limit = std::min(limit, loopStart);
    }
    return limit;
}

bool SampleEdit::Apply(Prompter& prompter, bool& contentChanged)
{
    contentChanged = false;
    if (volume < 0 || volume > kHighestVolume) {
        ReportFailure(prompter, "The volume must be 0-252. Please enter a valid volume.");
        return false;
    }
    if (startFrame < 0 || startFrame > StartFrameLimit()) {
        ReportFailure(prompter,
            Format("The start frame must be 0-%lld. Please enter a valid start frame.",
                static_cast<long long>(StartFrameLimit())));
        return false;
    }
    if (looping && (loopStart < 0 || loopStart > LoopStartLimit())) {
        ReportFailure(prompter,
            Format("The loop start must be 0-%lld. Please enter a valid loop start.",
                static_cast<long long>(LoopStartLimit())));
        return false;
    }
    if (rootKey < 0 || rootKey > 127) {
        ReportFailure(prompter, "The root note must be within the range C-2 to G8.");
        return false;
    }

    const std::uint32_t sizeBefore = sample.GetSampleDataSize();
    sample.SetSmoothing(smoothing ? 1 : 0);
    if (sample.ChannelCount() == 2 && channel != openedChannel && channel <= 2) {
        sample.SetChannel(channel);
        contentChanged = true;
    }
    const SampleParams& now = sample.Params();
    const bool loopChanged = (now.looping != 0) != looping
        || (looping && now.loopStart != static_cast<std::uint32_t>(loopStart));
    if (loopChanged
        && !sample.SetLoop(looping, static_cast<std::uint32_t>(looping ? loopStart : 0)))
        return false;
    sample.SetRootKey(static_cast<std::uint16_t>(rootKey));
    if (!sample.SetStartFrame(static_cast<std::uint32_t>(startFrame))) {
        ReportFailure(prompter,
            Format("The start frame must be 0-%lld. Please enter a valid start frame.",
                static_cast<long long>(StartFrameLimit())));
        return false;
    }
    sample.SetVolumeByte(static_cast<unsigned>(volume));
    sample.UpdateCompiledSize();
    if (sample.GetSampleDataSize() != sizeBefore)
        contentChanged = true;
    return true;
}

} // namespace cardmill
