#pragma once

#include "SearchDirFinder.h"
#include "model/MCardmill.h"
#include "model/MissingFileLocator.h"
#include "model/PendingFilesQueue.h"
#include "model/Services.h"
#include "platform/Clock.h"
#include "platform/FileLock.h"
#include "platform/IniSettingsStore.h"
#include "platform/TerminalProgressView.h"
#include "platform/TerminalPrompter.h"
#include "synth/LinkSingletons.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cardmill {

/// Exit statuses of the command line.
enum ExitStatus : int { kSuccess = 0, kFailed = 1, kUsage = 2, kRefused = 3 };

struct CliOptions {
    AnswerPolicy answers = AnswerPolicy::Ask;
    int retries = 3;
    std::string configDir;
    std::vector<std::string> searchDirs;
    bool json = false;
    ProgressShown progress = ProgressShown::OnTerminal;
    std::optional<MakerId> makerId;
    bool help = false;
    std::string command;
    std::vector<std::string> args; // the command's own arguments and options
};

/// The command line's answers to the controller: no window, dialogs answered from the arguments.
class CliDocumentUi final : public DocumentUi {
public:
    void ResetView() override { }
    void SelectGroup(int) override { }
    void SetTitle(const std::string&) override { }
    std::optional<std::string> ChooseProjectToOpen() override { return openPath; }
    std::optional<SaveChoice> ChooseSaveAs(const std::string&) override { return saveChoice; }

    std::optional<std::string> openPath;
    std::optional<SaveChoice> saveChoice;
};

/// Everything one run of the command line works with.
class CliApp {
public:
    explicit CliApp(const CliOptions& options);
    ~CliApp();

    bool Start();
    /// The status of a command that did its work: 3 when a question was refused on the way.
    int Finish(bool succeeded);
    /// A line that tells what was done, on stderr unless --quiet.
    void Inform(const std::string& text);

    const CliOptions& options;
    SystemClock clock;
    TerminalPrompter prompter;
    TerminalProgressView progress;
    std::unique_ptr<IniSettingsStore> settings;
    PendingFilesQueue pending;
    CliDocumentUi ui;
    SearchDirFinder finder;
    LinkSingletons link;
    std::unique_ptr<MCardmill> controller;
    std::unique_ptr<MissingFileLocator> locator;
    /// The project being changed, locked from opening to saving.
    FileLock projectLock;
};

/// Raised by Ctrl-C (SIGINT) or SIGTERM: long operations read it as their Stop button and
/// questions as Cancel. The command then ends with 128 + the signal's number.
extern std::atomic<bool> gInterrupted;

int RunCli(int argc, char** argv);

// Commands: each returns an exit status.
int CommandInfo(CliApp& app);
int CommandUnpack(CliApp& app);
class JsonWriter;
/// The contents of a card image or capture, when the file is one (true); `failed` set when it
/// can't be read. Text, JSON (into `json`) or the CSV lines of voices and samples.
bool DescribeCardImage(
    CliApp& app, const std::string& path, JsonWriter* json, bool csv, bool& failed);
/// The card an image file or a capture holds; nothing (told why) when it can't be read.
std::optional<std::vector<std::uint8_t>> ReadCard(
    CliApp& app, const std::string& path, bool acceptHoles, bool& wasCapture);
int CommandPlay(CliApp& app);
int CommandPrefs(CliApp& app);
int CommandInstrument(CliApp& app);
int CommandNew(CliApp& app);
int CommandAdd(CliApp& app);
int CommandRemove(CliApp& app);
int CommandSet(CliApp& app);
int CommandList(CliApp& app);
int CommandImage(CliApp& app);
int CommandFit(CliApp& app);
int CommandDump(CliApp& app);
int CommandVoice(CliApp& app);
int CommandSample(CliApp& app);
int CommandPorts(CliApp& app);
int CommandSend(CliApp& app);
int CommandSendImage(CliApp& app);
int CommandErase(CliApp& app);
int CommandTestMidi(CliApp& app);
int CommandSim(CliApp& app);

/// Reports a usage error on stderr and returns the usage status.
int UsageError(const std::string& command, const std::string& message);

/// Splits a command's arguments into options with values and the rest. `valued` names the
/// options that take a value; `flags` those that do not. Unknown options are a usage error.
struct ParsedArgs {
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> rest;
    std::string error;

    std::optional<std::string> Get(const std::string& name) const;
    std::vector<std::string> All(const std::string& name) const;
    bool Has(const std::string& name) const { return Get(name).has_value(); }
};
ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::vector<std::string>& valued,
    const std::vector<std::string>& flags);

} // namespace cardmill
