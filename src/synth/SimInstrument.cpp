#include "synth/SimInstrument.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace cardmill {

SimInstrument::SimInstrument(const SimOptions& options)
    : instrument(options.instrument)
    , cardPath(options.cardPath)
{
}

SimInstrument::~SimInstrument()
{
    if (log)
        std::fclose(log);
}

std::unique_ptr<SimInstrument> SimInstrument::Create(const SimOptions& options, std::string& error)
{
    std::unique_ptr<SimInstrument> sim(new SimInstrument(options));
    if (!options.cardPath.empty()) {
        namespace fs = std::filesystem;
        std::error_code status;
        const fs::path path(options.cardPath);
        if (fs::status(path, status).type() != fs::file_type::not_found) {
            if (!sim->instrument.LoadCard(options.cardPath, error))
                return nullptr;
        } else {
            // Found out now rather than when the first save fails after a transfer.
            const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
            std::error_code ignored;
            if (!fs::is_directory(folder, ignored)) {
                error = "the folder of the card file '" + options.cardPath + "' does not exist";
                return nullptr;
            }
        }
    }
    if (!options.logPath.empty()) {
        sim->log = std::fopen(options.logPath.c_str(), "we");
        if (!sim->log) {
            error = "can't write the log file '" + options.logPath + "': " + std::strerror(errno);
            return nullptr;
        }
        std::FILE* file = sim->log;
        // A line at a time, so that whoever watches the log sees each message as it is handled.
        sim->instrument.SetLog([file](const std::string& line) {
            std::fputs(line.c_str(), file);
            std::fputc('\n', file);
            std::fflush(file);
        });
    }
    return sim;
}

bool SimInstrument::SaveCard(std::string& error)
{
    if (!Unsaved())
        return true;
    if (!WriteCopy(instrument.Card(), error))
        return false;
    instrument.MarkSaved();
    saveFailed = false;
    return true;
}

std::optional<std::vector<std::uint8_t>> SimInstrument::TakeUnsaved()
{
    if (!Unsaved())
        return std::nullopt;
    const auto card = instrument.Card();
    instrument.MarkSaved();
    saveFailed = false;
    return std::vector<std::uint8_t>(card.begin(), card.end());
}

bool SimInstrument::WriteCopy(std::span<const std::uint8_t> card, std::string& error) const
{
    if (WriteFileAtomically(cardPath, card))
        return true;
    error = "can't save the card to '" + cardPath + "'";
    return false;
}

} // namespace cardmill
