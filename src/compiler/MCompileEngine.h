#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace cardmill {

class MProject;
class Prompter;
class ProgressView;

/// Turns the project into the card image and hands it out in blocks of 1024 bytes, in stages:
/// the Zelta program bank, the card header with the voice headers and sample data, the sequences
/// with their table, the Percula program bank. Everything goes through one 512 KB work buffer
/// for the run; the engine is never more than one block ahead of its driver.
class MCompileEngine {
public:
    static constexpr std::size_t kBlockBytes = 1024;
    static constexpr std::size_t kBufferBytes = 524288;

    MCompileEngine(MProject& project, Prompter& prompter);

    /// Starts a run; false (the user told) when memory is short.
    bool Begin();
    /// One bounded piece of work: 0 = no complete block yet, 1 = a block is ready at
    /// GetBlockData, other values = failure (the user told).
    int Step(ProgressView& progress);
    /// Bytes of the last, partly filled block, once finished.
    std::uint16_t GetFinalByteCount() const { return static_cast<std::uint16_t>(partialBytes); }
    std::span<const std::uint8_t> GetBlockData() const;
    bool IsFinished() const { return finished; }
    void End();

private:
    void NextStage();
    int BankBlockDone();
    int ZeltaBankStep(ProgressView& progress);
    int SoundStageStep(ProgressView& progress);
    int SequenceStageStep(ProgressView& progress);
    int PerculaBankStep(ProgressView& progress);
    int BuildVoiceHeaders(ProgressView& progress);
    int EmitVoiceHeaderBlock();
    int MoveSounds(ProgressView& progress);
    int MoveSequences(ProgressView& progress);
    /// Moves the bytes after the last full block handed out to the start of the buffer.
    void KeepPartialBytes(std::size_t after);

    MProject& project;
    Prompter& prompter;
    int blocksPending = 0;
    std::uint32_t partialBytes = 0;
    int stage = 0;
    int subStep = 0;
    std::vector<std::uint8_t> buffer;
    int blockIndex = 0;
    bool finished = false;
    bool lastSequencePiece = false;
};

/// The whole card image the project makes today, in memory, whatever the card's size (for
/// playing it before it is sent); nothing when a file fails (the user told) or `stop` turns
/// true between steps.
std::optional<std::vector<std::uint8_t>> CompileToMemory(MProject& project, MCompileEngine& engine,
    ProgressView& progress, const std::atomic<bool>* stop = nullptr);

} // namespace cardmill
