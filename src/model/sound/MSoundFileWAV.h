#pragma once

#include "model/MReadableFileDispatcher.h"
#include "model/sound/MSoundFile.h"

namespace cardmill {

/// A RIFF WAVE file: format, sample data position, loops from the sampler chunk, and the comment
/// from the INFO list.
class MSoundFileWAV : public MSoundFile {
public:
    explicit MSoundFileWAV(Services& services);

    std::unique_ptr<MReadableFile> Duplicate() const override;
    std::string GetFormatName() const override { return "Windows *.wav"; }
    bool OpenSound(const std::string& path) override;

protected:
    bool ReadHeader();

private:
    bool ReadChunks();
    bool ReadFormat();
    bool ReadDataInfo();
    void ReadSampler();
    void ReadLists();
    bool ReadList(int index);
    void ReadComment();
};

class MWAVFormatInterpreter final : public MFormatInterpreter {
public:
    using MFormatInterpreter::MFormatInterpreter;
    bool Recognises(const std::string& path) const override;
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override;
};

} // namespace cardmill
