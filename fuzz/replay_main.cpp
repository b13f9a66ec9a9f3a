// Replays kept fuzz inputs with any compiler: every file under the folders (or the files) named
// on the command line goes through the target once. A folder with no input in it, or a name that
// is not there, fails the run: a corpus that went missing must not pass as a replay that passed.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

/// Dot files (`.keep`, editor leftovers) are not inputs; files are sorted so that runs repeat.
bool InputsUnder(const fs::path& folder, std::vector<fs::path>& files)
{
    std::error_code error;
    fs::recursive_directory_iterator it(folder, error);
    const fs::recursive_directory_iterator end;
    const std::size_t before = files.size();
    for (; !error && it != end; it.increment(error)) {
        if (it->is_regular_file() && !it->path().filename().string().starts_with("."))
            files.push_back(it->path());
    }
    if (error) {
        std::fprintf(
            stderr, "cannot list %s: %s\n", folder.string().c_str(), error.message().c_str());
        return false;
    }
    std::sort(files.begin() + static_cast<std::ptrdiff_t>(before), files.end());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER_OR_FILE...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path name(argv[i]);
        std::error_code error;
        const std::size_t before = files.size();
        if (fs::is_directory(name, error)) {
            if (!InputsUnder(name, files))
                return 1;
        } else if (fs::is_regular_file(name, error)) {
            files.push_back(name);
        }
        if (files.size() == before) {
            std::fprintf(stderr, "no input in %s\n", argv[i]);
            return 1;
        }
    }
    for (const auto& file : files) {
        std::printf("running %s\n", file.string().c_str());
        std::fflush(stdout);
        std::ifstream in(file, std::ios::binary);
        const std::vector<std::uint8_t> bytes { std::istreambuf_iterator<char>(in),
            std::istreambuf_iterator<char>() };
        if (!in.is_open() || in.bad()) {
            std::fprintf(stderr, "cannot read %s\n", file.string().c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}
