#include "SearchDirFinder.h"

#include "model/TextFields.h"
#include "platform/FileSystem.h"

#include <cstdio>
#include <filesystem>

namespace cardmill {

FileFinder::Answer SearchDirFinder::Find(
    const std::string& kindName, const std::string& fileName, bool allowSkip, bool retry)
{
    if (!retry) {
        // Which file is used is said: "found 'kick.wav' in /other/folder/".
        const auto found = [&](const std::string& path) {
            std::fprintf(stderr, "found '%s' in %s\n", fileName.c_str(),
                FolderOf(AbsolutePath(path)).c_str());
            return Answer { Choice::Substitute, AbsolutePath(path) };
        };
        for (const std::string& folder : folders) {
            const std::string exact = folder + "/" + fileName;
            if (CanOpenForReading(exact))
                return found(exact);
        }
        for (const std::string& folder : folders) {
            std::error_code error;
            for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
                const std::string name = entry.path().filename().string();
                if (EqualsIgnoringCase(name, fileName) && CanOpenForReading(entry.path().string()))
                    return found(entry.path().string());
            }
        }
    }
    missing.push_back(fileName);
    std::fprintf(stderr, "Can't find the %s '%s'%s\n", kindName.c_str(), fileName.c_str(),
        folders.empty() ? " (name the folder it moved to with --search-dir)"
                        : " in the --search-dir folders");
    return { allowSkip ? Choice::Skip : Choice::Cancel, {} };
}

} // namespace cardmill
