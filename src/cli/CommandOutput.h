#pragma once

#include <string>
#include <vector>

namespace cardmill {

class CliApp;

/// What a command writes, for the checks made before anything is written.
struct OutputKind {
    std::string what; ///< "a card image", as the question names it
    /// The format name of a file it may replace without asking (empty: none may be).
    std::string sameFormat;
    std::vector<std::string> extensions; ///< the names such files have, ".img"
    bool binary = false; ///< never written to a terminal
    bool toStandardOutput = true; ///< "-" names the standard output
};

/// Where an image, a dump or an instrument goes: a file, which is replaced when it exists (as cp
/// and sox do) but is never one of the files the command reads, nor, without the user's word, a
/// file of another kind (a project given as the output by mistake); or, for "-", the standard
/// output, through a temporary file that goes once it is copied there.
class CommandOutput {
public:
    ~CommandOutput();

    /// False (told why; `status` set) when the output can't be used.
    bool Prepare(CliApp& app, const std::string& command, const std::string& given,
        const std::vector<std::string>& inputs, const OutputKind& kind, int& status);
    const std::string& Path() const { return path; }
    /// Copies the output to the standard output when that is where it goes.
    bool Deliver(const std::string& command);

private:
    std::string path;
    std::string temporary;
};

} // namespace cardmill
