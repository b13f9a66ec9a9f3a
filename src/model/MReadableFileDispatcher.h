#pragma once

#include "model/MReadableFile.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cardmill {

class Services;

/// One file format: a recognition test on a path, and the object that reads such a file.
class MFormatInterpreter {
public:
    explicit MFormatInterpreter(Services& sharedServices)
        : services(sharedServices)
    {
    }
    virtual ~MFormatInterpreter() = default;
    virtual bool Recognises(const std::string& path) const = 0;
    /// A new object opened on the path, or none when it cannot be opened.
    virtual std::unique_ptr<MReadableFile> Create(const std::string& path) const = 0;

protected:
    Services& services;
};

/// One kind of file (sound, instrument, sequence, SysEx bank, project) with its formats in the
/// order they are tried.
class MReadableFileDispatcher {
public:
    MReadableFileDispatcher(Services& sharedServices, std::string kind);
    virtual ~MReadableFileDispatcher() = default;

    bool RecognisesRecord(const FileRecord& record) const { return Recognises(record.path); }
    virtual bool Recognises(const std::string& path) const;
    /// The object of the first format that recognises the path and can open it (a WAV file
    /// named ".aif" is a WAV file); when none can, the reason of the first is kept.
    virtual std::unique_ptr<MReadableFile> Create(const std::string& path) const;
    /// After Create failed: "Sorry, but Cardmill can't understand the <kind> '<path>'" and the
    /// reason on a line of its own, when the reader gave one.
    std::string CantUnderstand(const std::string& path) const;
    const std::string& GetKindName() const { return kindName; }
    /// A plain sound taking the whole file as raw sample data (sound files only).
    virtual std::unique_ptr<MReadableFile> CreateRaw(const std::string& path) const;

protected:
    void Add(std::unique_ptr<MFormatInterpreter> interpreter);
    Services& services;

private:
    std::string kindName;
    std::vector<std::unique_ptr<MFormatInterpreter>> interpreters;
};

class MSoundFileDispatcher final : public MReadableFileDispatcher {
public:
    explicit MSoundFileDispatcher(Services& services);
    std::unique_ptr<MReadableFile> CreateRaw(const std::string& path) const override;
};

class MInstFileDispatcher final : public MReadableFileDispatcher {
public:
    explicit MInstFileDispatcher(Services& services);
};

class MSeqFileDispatcher final : public MReadableFileDispatcher {
public:
    explicit MSeqFileDispatcher(Services& services);
};

class MParamFileDispatcher final : public MReadableFileDispatcher {
public:
    explicit MParamFileDispatcher(Services& services);
};

class MProjectFileDispatcher final : public MReadableFileDispatcher {
public:
    explicit MProjectFileDispatcher(Services& services);
};

/// The object of the first of the dispatchers, in order, that recognises the file and can open
/// it: a file one of them recognises by its name and can't open is tried with the next (a MIDI
/// file named ".wav" is a MIDI file). The one recognition of every road: the creator's, adding
/// files, previews. Without an object, `failure` says why in the words of the first dispatcher
/// that recognised the file, and `kindName` is its kind ("file" for none).
std::unique_ptr<MReadableFile> CreateRecognised(Services& services,
    std::span<const MReadableFileDispatcher* const> dispatchers, const std::string& path,
    std::string& failure, std::string& kindName);

/// Recognises a file on disk by asking the dispatchers in a fixed order (sound, instrument,
/// sequence, SysEx, project) and builds the object of the first format that recognises it.
class MReadableFileCreator {
public:
    MReadableFileCreator(
        Services& sharedServices, std::vector<const MReadableFileDispatcher*> dispatchersInOrder);

    /// The object, or none after telling the user "Sorry, but Cardmill can't understand ...".
    std::unique_ptr<MReadableFile> Create(const std::string& path) const;
    /// The same without telling anyone: on failure `failure` holds the message. `kindName`
    /// receives the kind name of the dispatcher that recognised the file ("file" for none).
    std::unique_ptr<MReadableFile> Create(
        const std::string& path, std::string& failure, std::string* kindName = nullptr) const;

private:
    Services& services;
    std::vector<const MReadableFileDispatcher*> dispatchers;
};

/// The add-files road's notice before it takes a file that no dispatcher yields as raw data.
std::string RawDataMessage(const std::string& path);

/// "Sorry, but Cardmill can't understand the " + kind + " '" + path + "'"
std::string CantUnderstandMessage(const std::string& kindName, const std::string& path);

/// Why a file can't be opened at all, in a message with the system's reason ("Sorry, but
/// Cardmill can't read the file '...': Permission denied."); nothing when it can be read.
std::optional<std::string> UnreadableMessage(const std::string& path);

} // namespace cardmill
