#pragma once

#include "model/MissingFileLocator.h"

#include <string>
#include <vector>

namespace cardmill {

/// The command line's answer to "Where is the file?": the --search-dir folders, searched for the
/// file's name (exactly, then without regard to case). A file found nowhere is reported on
/// stderr by name and skipped, so that every missing file of a run gets named.
class SearchDirFinder final : public FileFinder {
public:
    explicit SearchDirFinder(std::vector<std::string> searchFolders)
        : folders(std::move(searchFolders))
    {
    }

    Answer Find(const std::string& kindName, const std::string& fileName, bool allowSkip,
        bool retry) override;
    /// The names reported missing so far.
    const std::vector<std::string>& Missing() const { return missing; }

private:
    std::vector<std::string> folders;
    std::vector<std::string> missing;
};

} // namespace cardmill
