#include "MCompileEngine.h"

#include "model/MProject.h"
#include "platform/ProgressView.h"
#include "platform/Prompter.h"

#include <cstring>
#include <new>

namespace cardmill {

namespace {

constexpr int kBankBlocks = 64; // 65536 bytes

} // namespace

MCompileEngine::MCompileEngine(MProject& projectModel, Prompter& prompterService)
    : project(projectModel)
    , prompter(prompterService)
{
}

bool MCompileEngine::Begin()
{
    finished = false;
    blocksPending = 0;
    partialBytes = 0;
    stage = 0;
    lastSequencePiece = false;
    NextStage();
    blockIndex = 0;
    try {
        buffer.assign(kBufferBytes, 0);
    } catch (const std::bad_alloc&) {
        ReportFailure(prompter,
            "Sorry, but Cardmill can't perform that operation because there is not enough memory.");
        return false;
    }
    return true;
}

void MCompileEngine::End()
{
    buffer.clear();
    buffer.shrink_to_fit();
}

std::span<const std::uint8_t> MCompileEngine::GetBlockData() const
{
    const std::size_t at = kBlockBytes * static_cast<std::size_t>(blockIndex < 0 ? 0 : blockIndex);
    if (buffer.size() < at + kBlockBytes)
        return {};
    return std::span<const std::uint8_t>(buffer).subspan(at, kBlockBytes);
}

void MCompileEngine::NextStage()
{
    ++stage;
    for (;; ++stage) {
        if (stage == 1 && !project.HasZeltaBank())
            continue;
        if (stage == 2 && !project.HasCardHeader())
            continue;
        if (stage == 3 && !project.HasSequences())
            continue;
        if (stage == 4 && !project.HasPerculaBank())
            continue;
        break;
    }
    if (stage > 4)
        stage = 5;
    subStep = 0;
}

int MCompileEngine::Step(ProgressView& progress)
{
    switch (stage) {
    case 1:
        return ZeltaBankStep(progress);
    case 2:
        return SoundStageStep(progress);
    case 3:
        return SequenceStageStep(progress);
    case 4:
        return PerculaBankStep(progress);
    default:
        finished = true;
        return 0;
    }
}

int MCompileEngine::BankBlockDone()
{
    ++blockIndex;
    if (--blocksPending == 0)
        ++subStep;
    return 1;
}

void MCompileEngine::KeepPartialBytes(std::size_t after)
{
    std::memmove(buffer.data(), buffer.data() + after, partialBytes);
}

int MCompileEngine::ZeltaBankStep(ProgressView& progress)
{
    switch (subStep) {
    case 0: {
        const int result = project.CompileZeltaBank(progress, buffer);
        if (result == 1) {
            subStep = 1;
            partialBytes = 0;
            blocksPending = kBankBlocks - 1;
            blockIndex = 0;
        }
        return result; // a 1 hands out block 0
    }
    case 1:
        return BankBlockDone();
    default:
        NextStage();
        return 0;
    }
}

int MCompileEngine::SoundStageStep(ProgressView& progress)
{
    switch (subStep) {
    case 0:
        return BuildVoiceHeaders(progress);
    case 1:
        return EmitVoiceHeaderBlock();
    case 2:
        return MoveSounds(progress);
    default:
        NextStage();
        return 0;
    }
}

int MCompileEngine::BuildVoiceHeaders(ProgressView& progress)
{
    progress.SetPhase("Building Voice Headers...", "");
    const std::uint64_t size = project.GetVoiceTableBytes();
    if (size > kBufferBytes) {
        ReportFailure(prompter, "There is not enough memory to prepare the voice headers.");
        subStep = -1;
        return -1;
    }
    const std::uint64_t first = size / 2 + (project.HasZeltaBank() ? 32768 : 0);
    project.AssignSampleAddresses(first);
    // Whatever an earlier stage left here goes: the bytes a voice leaves alone are zero.
    std::memset(buffer.data(), 0, size);
    project.BuildCardHeader(buffer);
    project.WriteVoiceHeaders(std::span<std::uint8_t>(buffer).first(size));
    blocksPending = static_cast<int>(size / kBlockBytes);
    partialBytes = size % kBlockBytes;
    blockIndex = -1;
    subStep = 1;
    return 0;
}

int MCompileEngine::EmitVoiceHeaderBlock()
{
    if (blocksPending > 0) {
        --blocksPending;
        ++blockIndex;
        return 1;
    }
    if (blockIndex >= 0)
        KeepPartialBytes(kBlockBytes * static_cast<std::size_t>(blockIndex + 1));
    project.BeginSounds();
    subStep = 2;
    blockIndex = 0;
    return 0;
}

int MCompileEngine::MoveSounds(ProgressView& progress)
{
    std::uint32_t words = static_cast<std::uint32_t>((kBlockBytes - partialBytes) / 2);
    const int result
        = project.SoundStep(progress, words, std::span<std::uint8_t>(buffer).subspan(partialBytes));
    if (result == -1)
        return -1;
    partialBytes += 2 * words;
    int ready = 0;
    if (partialBytes == kBlockBytes) {
        partialBytes = 0;
        ready = 1;
    }
    if (result == 1)
        subStep = 3;
    return ready;
}

int MCompileEngine::SequenceStageStep(ProgressView& progress)
{
    switch (subStep) {
    case 0:
        progress.SetPhase("Building Sequences...", "");
        project.BeginSequences();
        subStep = 1;
        blocksPending = 0;
        return 0;
    case 1:
        return MoveSequences(progress);
    default:
        NextStage();
        return 0;
    }
}

int MCompileEngine::MoveSequences(ProgressView& progress)
{
    if (blocksPending == 0) {
        blockIndex = 0;
        std::uint32_t length = 0;
        const int result = project.SequenceStep(
            progress, length, std::span<std::uint8_t>(buffer).subspan(partialBytes));
        if (result != 0 && result != 1)
            return -1;
        lastSequencePiece = result == 1;
        const std::uint32_t total = length + partialBytes;
        blocksPending = static_cast<int>(total / kBlockBytes);
        partialBytes = total % kBlockBytes;
        if (total >= kBlockBytes)
            return 1; // block 0
        if (lastSequencePiece)
            subStep = 2;
        return 0;
    }
    ++blockIndex;
    if (--blocksPending > 0)
        return 1;
    // Block blockIndex - 1 was the last full one handed out; what follows it moves up front.
    KeepPartialBytes(kBlockBytes * static_cast<std::size_t>(blockIndex));
    blockIndex = 0;
    if (lastSequencePiece)
        subStep = 2;
    return 0;
}

int MCompileEngine::PerculaBankStep(ProgressView& progress)
{
    switch (subStep) {
    case 0: {
        const int result = project.CompilePerculaBank(
            progress, std::span<std::uint8_t>(buffer).subspan(partialBytes));
        if (result == 1) {
            subStep = 1;
            blocksPending = kBankBlocks - 1;
            blockIndex = 0;
        }
        return result; // block 0 begins with the bytes left over from the previous stage
    }
    case 1:
        BankBlockDone();
        // The bytes after the 64 blocks form the final partial block; block 63 stays in place
        // until the driver has taken it.
        if (blocksPending == 0)
            KeepPartialBytes(kBlockBytes * kBankBlocks);
        return 1;
    default:
        blockIndex = 0;
        NextStage();
        return 0;
    }
}

std::optional<std::vector<std::uint8_t>> CompileToMemory(MProject& project, MCompileEngine& engine,
    ProgressView& progress, const std::atomic<bool>* stop)
{
    project.ComputeTotalBytes();
    std::vector<std::uint8_t> image;
    image.reserve(static_cast<std::size_t>(project.GetTotalBytes()));
    if (!engine.Begin())
        return std::nullopt;
    bool ok = true;
    for (;;) {
        if (stop && *stop) {
            ok = false;
            break;
        }
        const int result = engine.Step(progress);
        if (result == 1) {
            const auto block = engine.GetBlockData().first(MCompileEngine::kBlockBytes);
            image.insert(image.end(), block.begin(), block.end());
        } else if (result != 0) {
            ok = false;
            break;
        } else if (engine.IsFinished()) {
            const auto last = engine.GetBlockData().first(engine.GetFinalByteCount());
            image.insert(image.end(), last.begin(), last.end());
            break;
        }
    }
    engine.End();
    if (!ok)
        return std::nullopt;
    return image;
}

} // namespace cardmill
