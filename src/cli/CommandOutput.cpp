#include "CommandOutput.h"

#include "Cli.h"
#include "model/MReadableFile.h"
#include "model/MReadableFileDispatcher.h"
#include "model/TextFields.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace cardmill {

namespace {

bool EndsWith(const std::string& name, const std::string& extension)
{
    return name.size() > extension.size()
        && std::equal(extension.rbegin(), extension.rend(), name.rbegin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a))
                   == std::tolower(static_cast<unsigned char>(b));
           });
}

} // namespace

CommandOutput::~CommandOutput()
{
    if (!temporary.empty())
        RemoveFile(temporary);
}

bool CommandOutput::Prepare(CliApp& app, const std::string& command, const std::string& given,
    const std::vector<std::string>& inputs, const OutputKind& kind, int& status)
{
    if (given == "-" && !kind.toStandardOutput) {
        status = UsageError(command, kind.what + " is written to a file: name it");
        return false;
    }
    if (given == "-") {
        if (kind.binary && ::isatty(STDOUT_FILENO)) {
            status = UsageError(command, kind.what + " is not written to a terminal");
            return false;
        }
        std::string name = (std::filesystem::temp_directory_path() / "cardmill-XXXXXX").string();
        const int fd = ::mkstemp(name.data());
        if (fd < 0) {
            std::fprintf(stderr, "cardmill %s: no temporary file for the output can be made\n",
                command.c_str());
            status = kFailed;
            return false;
        }
        ::close(fd);
        temporary = path = name;
        return true;
    }
    path = AbsolutePath(given);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (SameFile(path, inputs[i])) {
            status = UsageError(command,
                "'" + given + "' is " + (i == 0 ? "the project" : "a file the project uses")
                    + ", which the command reads; nothing is written. Name another output "
                      "file.");
            return false;
        }
    }
    const auto existing = StatFile(path);
    if (!existing && !std::filesystem::is_directory(std::filesystem::path(path).parent_path())) {
        std::fprintf(stderr,
            "cardmill %s: there is no folder '%s' to write '%s' into; nothing is written\n",
            command.c_str(), std::filesystem::path(given).parent_path().c_str(), given.c_str());
        status = kFailed;
        return false;
    }
    if (!existing) {
        // A name that will mislead whoever finds the file later is said at once.
        if (!kind.extensions.empty()
            && std::none_of(kind.extensions.begin(), kind.extensions.end(),
                [&](const std::string& extension) { return EndsWith(given, extension); }))
            std::fprintf(stderr, "cardmill %s: warning: '%s' will hold %s, whose files end in %s\n",
                command.c_str(), given.c_str(), kind.what.c_str(), kind.extensions.front().c_str());
        return true;
    }
    if (!existing->regular)
        return true; // a device or a pipe is written in place
    // A file Cardmill reads, of another kind than the output, is no output named on purpose.
    std::string failure;
    std::string found;
    const auto file = app.controller->Creator().Create(path, failure, &found);
    if (!file || (!kind.sameFormat.empty() && file->GetFormatName() == kind.sameFormat))
        return true;
    const Answer answer = app.prompter.Ask("'" + given + "' is " + WithArticle(found) + " ("
            + file->GetFormatName() + "). Replace it with " + kind.what + "?",
        Icon::Warning, Buttons::OkCancel, Answer::Cancel);
    if (answer == Answer::Ok)
        return true;
    std::fprintf(stderr, "cardmill %s: nothing is written\n", command.c_str());
    status = kRefused;
    return false;
}

bool CommandOutput::Deliver(const std::string& command)
{
    if (temporary.empty())
        return true;
    const auto bytes = ReadWholeFile(temporary, UINT64_MAX);
    if (!bytes || std::fwrite(bytes->data(), 1, bytes->size(), stdout) != bytes->size()
        || std::fflush(stdout) != 0) {
        std::fprintf(stderr,
            "cardmill %s: the output could not be written to the standard output\n",
            command.c_str());
        return false;
    }
    return true;
}

} // namespace cardmill
