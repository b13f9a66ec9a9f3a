// The commands that talk to the instrument: send, send-image, erase and test-midi.

#include "Cli.h"
#include "MidiLink.h"
#include "ProjectCommands.h"
#include "model/APrefs.h"
#include "model/MProject.h"
#include "platform/FileSystem.h"
#include "platform/IniSettingsStore.h"
#include "synth/ACompileProgressDialog.h"
#include "synth/AEraseProgressDialog.h"

#include <cstdio>
#include <functional>

namespace cardmill {

namespace {

const std::vector<std::string> kTransferOptions { "--port", "--in", "--out", "--since" };
const std::vector<std::string> kTransferFlags { "--no-erase", "--resume" };

constexpr const char* kMidiAdvice
    = "Make sure your MIDI settings are correct: name the instrument's port with --port (see "
      "'cardmill ports').";

/// The preference "EraseSectorBeforeWriting", unless --no-erase turns it off for this run.
bool EraseEachSector(CliApp& app, const ParsedArgs& args)
{
    return app.controller->Prefs().eraseSectorBeforeWriting != 0 && !args.Has("--no-erase");
}

/// How a transfer uses the journal, as the command line asks.
struct JournalUse {
    TransferMode mode = TransferMode::Whole;
    std::optional<ImageDigest> earlier;
    std::string earlierName;
};

/// The journal's use asked for on the command line; false (told) for a usage error or an earlier
/// image that can't be read.
bool ParseJournalUse(
    const std::string& command, const ParsedArgs& args, JournalUse& use, int& status)
{
    const auto since = args.Get("--since");
    if (since && args.Has("--resume")) {
        status = UsageError(command, "--resume and --since can't be used together");
        return false;
    }
    if (args.Has("--resume"))
        use.mode = TransferMode::Resume;
    if (!since)
        return true;
    const auto bytes = ReadWholeFile(*since, ACompileProgressDialog::kLargestSendable);
    if (!bytes) {
        std::fprintf(stderr, "cardmill %s: the earlier image '%s' can't be read%s.\n",
            command.c_str(), since->c_str(),
            StatFile(*since) ? " (or is larger than 16 MB)" : ": there is no such file");
        status = kFailed;
        return false;
    }
    use.mode = TransferMode::Since;
    use.earlier = ImageDigest::Of(*bytes);
    use.earlierName = *since;
    return true;
}

/// What the user can do about a card left partly written.
void AdviseResume(const ACompileProgressDialog& dialog, LinkOutcome outcome)
{
    const auto onCard = dialog.SectorsOnCard();
    if (outcome == LinkOutcome::Done || outcome == LinkOutcome::NotStarted || !onCard
        || onCard->first == 0 || onCard->first == onCard->second || dialog.CardTooSmall())
        return;
    std::fprintf(stderr,
        "The card holds %u of the %u sectors of this image.  To write the rest, run the same "
        "command again with --resume.\n",
        onCard->first, onCard->second);
}

/// The exit status of a run, once the link is closed.
int Conclude(CliApp& app, MidiLink& link, LinkOutcome outcome)
{
    const bool closed = CloseMidiLink(link);
    app.progress.Finish();
    if (outcome == LinkOutcome::Stopped)
        return kFailed; // Ctrl-C: told as the command ends
    return app.Finish(outcome == LinkOutcome::Done && closed);
}

/// Runs a transfer set up as the command line asks, and ends the command.
int Transfer(CliApp& app, MidiLink& link, const ParsedArgs& args, JournalUse& use,
    ACompileProgressDialog& dialog, const std::function<LinkOutcome()>& run)
{
    const auto journal
        = TransferJournal::Beside(IniSettingsStore::ConfigDirectory(app.options.configDir));
    dialog.SetMidiAdvice(kMidiAdvice);
    dialog.SetCardAdvice("card is as large as the image ('cardmill list PROJECT' shows the "
                         "project's card size).");
    dialog.SetEraseSectorBeforeWriting(EraseEachSector(app, args));
    dialog.UseJournal(journal, use.mode, std::move(use.earlier), use.earlierName);
    const LinkOutcome outcome = run();
    app.progress.Finish();
    AdviseResume(dialog, outcome);
    return Conclude(app, link, outcome);
}

} // namespace

int CommandSend(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args, kTransferOptions, kTransferFlags);
    if (!args.error.empty())
        return UsageError("send", args.error);
    if (args.rest.size() != 1)
        return UsageError("send", "name one project: send PROJECT.cmr [--port P]");
    JournalUse use;
    int status = kSuccess;
    if (!ParseJournalUse("send", args, use, status))
        return status;
    const std::string& path = args.rest.front();
    if (!OpenProject(app, "send", path, false))
        return kFailed;
    MidiLink link;
    if (!OpenMidiLink(app, "send", args, link, status))
        return status;
    ACompileProgressDialog dialog(app.controller->Project(), app.link.CompileEngine(), *link.midi,
        *link.handler, app.prompter, app.clock, app.progress);
    dialog.SetCardSizeAdvice(CardSizeAdvice(path));
    return Transfer(app, link, args, use, dialog, [&] { return dialog.Run(); });
}

int CommandSendImage(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args, kTransferOptions, kTransferFlags);
    if (!args.error.empty())
        return UsageError("send-image", args.error);
    if (args.rest.size() != 1)
        return UsageError("send-image", "name one image file: send-image CARD.img [--port P]");
    JournalUse use;
    int status = kSuccess;
    if (!ParseJournalUse("send-image", args, use, status))
        return status;
    MidiLink link;
    if (!OpenMidiLink(app, "send-image", args, link, status))
        return status;
    AImageSendProgressDialog dialog(
        *link.midi, *link.handler, app.prompter, app.clock, app.progress);
    return Transfer(app, link, args, use, dialog, [&] { return dialog.Run(args.rest.front()); });
}

namespace {

/// Says what the erase covered: the instrument never tells a card's size, so a card bigger than
/// the size erased keeps its old data past it.
void ReportErased(
    CliApp& app, const AEraseProgressDialog& dialog, std::uint16_t token, bool sizeGiven)
{
    const std::string asked = MProject::CardSizeText(token);
    if (dialog.WrittenOver())
        app.Inform("The instrument has no erase command: the start of its card was written over "
                   "(two blocks), which it reads as an empty card.");
    else if (dialog.CardEndedFirst())
        app.Inform(
            "The card is erased: all of it, since it ends before the " + asked + " asked for.");
    else if (sizeGiven)
        app.Inform("The card is erased (" + asked + ").");
    else
        app.Inform("The first " + asked
            + " of the card are erased (the default card size). A bigger card keeps its data past "
              "that: erase it with --card-size, for instance --card-size 4M.");
}

} // namespace

int CommandErase(CliApp& app)
{
    const ParsedArgs args
        = ParseArgs(app.options.args, { "--port", "--in", "--out", "--card-size" }, {});
    if (!args.error.empty())
        return UsageError("erase", args.error);
    if (!args.rest.empty())
        return UsageError("erase", "unexpected argument " + args.rest.front());
    std::uint16_t token = app.controller->Prefs().defaultCardSizeToken;
    const bool sizeGiven = args.Has("--card-size");
    if (const auto size = args.Get("--card-size")) {
        const auto parsed = ParseCardSize(*size);
        if (!parsed)
            return UsageError("erase",
                "unknown card size " + *size + " (128K 256K 512K 1M 2M 4M 8M 16M 24M 32M)");
        token = *parsed;
    }
    const std::uint32_t bytes = MProject::CardSizeBytes(token);
    if (bytes == 0)
        return UsageError("erase",
            "the default card size preference is not a card size; give "
            "--card-size");
    MidiLink link;
    int status = kSuccess;
    if (!OpenMidiLink(app, "erase", args, link, status))
        return status;
    AEraseProgressDialog dialog(*link.midi, *link.handler, app.prompter, app.clock, app.progress);
    dialog.SetMidiAdvice(kMidiAdvice);
    const auto journal
        = TransferJournal::Beside(IniSettingsStore::ConfigDirectory(app.options.configDir));
    dialog.UseJournal(journal);
    const LinkOutcome outcome = dialog.Run(bytes);
    if (outcome == LinkOutcome::Done) {
        app.progress.Finish();
        ReportErased(app, dialog, token, sizeGiven);
    }
    return Conclude(app, link, outcome);
}

int CommandTestMidi(CliApp& app)
{
    const ParsedArgs args = ParseArgs(app.options.args, kPortOptions, {});
    if (!args.error.empty())
        return UsageError("test-midi", args.error);
    if (!args.rest.empty())
        return UsageError("test-midi", "unexpected argument " + args.rest.front());
    MidiLink link;
    int status = kSuccess;
    if (!OpenMidiLink(app, "test-midi", args, link, status))
        return status;
    AIOProgressDialog dialog(*link.midi, *link.handler, app.prompter, app.clock, app.progress);
    dialog.SetMidiAdvice(kMidiAdvice);
    const LinkOutcome outcome = dialog.Run();
    app.progress.Finish();
    if (outcome == LinkOutcome::Done)
        std::printf("%s\n", link.handler->DeviceBanner().c_str());
    return Conclude(app, link, outcome);
}

} // namespace cardmill
