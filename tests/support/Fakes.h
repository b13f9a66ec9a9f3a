#pragma once

#include "model/MCardmill.h"
#include "model/MissingFileLocator.h"
#include "model/PendingFilesQueue.h"
#include "model/instrument/MInstFile.h"
#include "model/sequence/MSeqFile.h"
#include "platform/Clock.h"
#include "platform/ScriptedPrompter.h"
#include "platform/SettingsStore.h"

#include <optional>
#include <string>
#include <vector>

namespace cardmill::test {

/// A sequence whose card data is given.
class FakeSequence final : public MSeqFile {
public:
    FakeSequence(Services& services, std::vector<std::uint8_t> data, std::uint16_t outPort = 0)
        : MSeqFile(services)
        , bytes(std::move(data))
    {
        viaOutPort = outPort;
        compiledSize = static_cast<std::uint32_t>(bytes.size());
    }
    std::span<const std::uint8_t> CompiledSequence(ProgressView&, bool) override { return bytes; }
    bool UpdateCompiledSize() override { return false; }

private:
    std::vector<std::uint8_t> bytes;
};

/// A voice of a given header size with no sample data (its header bytes are 0xAB).
class FakeVoice final : public MInstFile {
public:
    FakeVoice(Services& services, std::int16_t group, std::uint32_t headerBytes)
        : MInstFile(services)
        , size(headerBytes)
    {
        category = group;
        compiledSize = headerBytes;
    }
    std::uint32_t GetVoiceHeaderSize() const override { return size; }
    void WriteVoiceHeader(std::span<std::uint8_t>& cursor, std::uint8_t) override
    {
        std::fill_n(cursor.begin(), size, 0xAB);
        cursor = cursor.subspan(size);
    }

private:
    std::uint32_t size;
};

/// The document window as far as the controller sees it: the answers of its dialogs are set
/// beforehand, and what the controller asks of it is kept.
struct RecordingUi final : DocumentUi {
    void ResetView() override { ++resets; }
    void SelectGroup(int group) override { selected = group; }
    void SetTitle(const std::string& text) override { title = text; }
    std::optional<std::string> ChooseProjectToOpen() override { return openChoice; }
    std::optional<SaveChoice> ChooseSaveAs(const std::string& proposed) override
    {
        proposedNames.push_back(proposed);
        return saveChoice;
    }

    int resets = 0;
    int selected = -1;
    std::string title;
    std::optional<std::string> openChoice;
    std::optional<SaveChoice> saveChoice;
    std::vector<std::string> proposedNames;
};

/// A controller over doubles, as the document window and the loader drive it (not started).
struct ControllerDoubles {
    ScriptedPrompter prompter;
    ManualClock clock;
    MemorySettingsStore settings;
    RecordingUi ui;
    PendingFilesQueue pending;
    MCardmill controller { Platform { prompter, clock, settings }, ui, pending };
};

/// A finder asked for each file found nowhere: it notes the name and skips the file.
struct SkippingFinder final : FileFinder {
    Answer Find(const std::string&, const std::string& fileName, bool, bool) override
    {
        asked.push_back(fileName);
        return { Choice::Skip, {} };
    }
    std::vector<std::string> asked;
};

} // namespace cardmill::test
