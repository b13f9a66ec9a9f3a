#include "sim/SimInstrument.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace cardmill {

SimInstrument::SimInstrument(const SimOptions& options)
    : instrument(options.instrument)
    , cardPath(options.cardPath)
{
}

SimInstrument::~SimInstrument()
{
    if (cardFile >= 0)
        ::close(cardFile);
    if (log)
        std::fclose(log);
    if (record)
        std::fclose(record);
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
        SimInstrument* self = sim.get();
        sim->instrument.SetStore([self](std::size_t offset, std::span<const std::uint8_t> bytes) {
            self->Store(offset, bytes);
        });
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
    if (!options.recordPath.empty()) {
        sim->record = std::fopen(options.recordPath.c_str(), "we");
        if (!sim->record) {
            error = "can't write the record file '" + options.recordPath
                + "': " + std::strerror(errno);
            return nullptr;
        }
        std::FILE* file = sim->record;
        sim->instrument.SetRecord([file](std::span<const std::uint8_t> bytes) {
            std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::fflush(file);
        });
    }
    return sim;
}

bool SimInstrument::Store(std::size_t offset, std::span<const std::uint8_t> bytes)
{
    if (cardFile < 0) {
        // Opened at the first change: a card that never changes leaves no file behind.
        cardFile = ::open(cardPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        struct stat status { };
        if (cardFile >= 0 && ::fstat(cardFile, &status) != 0) {
            const int code = errno;
            ::close(cardFile);
            cardFile = -1;
            return StoreFailed(code);
        }
        if (cardFile < 0)
            return StoreFailed(errno);
        // A new or shorter file gets the whole card, this change included.
        if (static_cast<std::size_t>(status.st_size) != instrument.Card().size()) {
            offset = 0;
            bytes = instrument.Card();
        }
    }
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t written = ::pwrite(
            cardFile, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return StoreFailed(written < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(written);
    }
    return true;
}

bool SimInstrument::StoreFailed(int code)
{
    storeFailed = true;
    storeError = "can't write to the card file '" + cardPath + "': " + std::strerror(code);
    return false;
}

bool SimInstrument::SaveCard(std::string& error)
{
    if (storeFailed && Store(0, instrument.Card()))
        storeFailed = false;
    if (storeFailed || (cardFile >= 0 && ::fsync(cardFile) != 0)) {
        error = storeFailed ? storeError : "can't save the card to '" + cardPath + "'";
        return false;
    }
    return true;
}

std::string SimInstrument::TakeStoreError()
{
    return std::exchange(storeError, {});
}

} // namespace cardmill
