// The commands that talk to the instrument: send, send-image, erase and test-midi.

#include "Cli.h"
#include "MidiLink.h"
#include "ProjectCommands.h"
#include "model/APrefs.h"
#include "model/MProject.h"
#include "model/MReadableFile.h"
#include "model/MReadableFileDispatcher.h"
#include "model/TextFields.h"
#include "platform/FileSystem.h"
#include "platform/IniSettingsStore.h"
#include "synth/ACompileProgressDialog.h"
#include "synth/AEraseProgressDialog.h"

#include <cstdio>
#include <functional>

namespace cardmill {

namespace {

const std::vector<std::string> kTransferOptions { "--port", "--in", "--out", "--pace", "--since" };
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
    CliApp& app, const std::string& command, const ParsedArgs& args, JournalUse& use, int& status)
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
    // A project (or a sound) named for the image would be taken for the card's bytes: nearly
    // every sector would differ, and with a journal that says nothing the card would be
    // written from a comparison that means nothing.
    std::string failure;
    std::string kind;
    if (app.controller->Creator().Create(*since, failure, &kind)) {
        status = UsageError(command,
            "'" + *since + "' is " + WithArticle(kind)
                + ", not a card image: --since names the image file of the card the instrument "
                  "holds (written by 'cardmill image')");
        return false;
    }
    use.mode = TransferMode::Since;
    use.earlier = ImageDigest::Of(*bytes);
    use.earlierName = *since;
    return true;
}

/// After a transfer that didn't end ready: how far it got, and what the user can do about a
/// card left partly written.
void TellHowFar(const ACompileProgressDialog& dialog, LinkOutcome outcome)
{
    // A failure that touched nothing has said so in its own words.
    if (outcome == LinkOutcome::Done || outcome == LinkOutcome::NotStarted
        || (outcome == LinkOutcome::Ended && !dialog.CardChanged()))
        return;
    std::string text = dialog.HowFarItGot();
    const auto onCard = dialog.SectorsOnCard();
    // Nothing to go on with when the card is as it was, or too small for any resume to help.
    const bool goOn = dialog.CardChanged() && !dialog.CardTooSmall();
    if (goOn && onCard && onCard->first < onCard->second)
        text += "  To write the rest, run the same command again with --resume.";
    else if (goOn && !onCard)
        text += "  Send it again to write the whole card.";
    std::fprintf(stderr, "%s\n", text.c_str());
}

/// After a transfer that left sectors out because the journal or --since said the card holds
/// them: what that rests on.
void TellWhatWasTrusted(
    const ACompileProgressDialog& dialog, LinkOutcome outcome, const JournalUse& use)
{
    const auto planned = dialog.SectorsPlanned();
    if (outcome != LinkOutcome::Done || !planned || planned->first == planned->second)
        return;
    const std::string option = use.mode == TransferMode::Since ? "--since" : "--resume";
    const std::string trusted = use.mode == TransferMode::Since
        ? "your word that the card in the synthesizer holds '" + use.earlierName
            + "', and the transfer journal of this synthesizer"
        : std::string("the transfer journal of this synthesizer");
    std::fprintf(stderr,
        "%s trusted %s, which can't see a card swapped in its slot since.  If another card is in "
        "it now, send again without %s to write all of it.\n",
        option.c_str(), trusted.c_str(), option.c_str());
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
    TellHowFar(dialog, outcome);
    TellWhatWasTrusted(dialog, outcome, use);
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
    if (!ParseJournalUse(app, "send", args, use, status))
        return status;
    const std::string& path = args.rest.front();
    if (!OpenProject(app, "send", path, false))
        return kFailed;
    MidiLink link;
    if (!OpenMidiLink(app, "send", args, link, status))
        return status;
    ACompileProgressDialog dialog(app.controller->Project(), app.link.CompileEngine(), *link.midi,
        *link.handler, app.prompter, app.clock, app.progress);
    if (!PaceMidiLink(app, "send", args, link, dialog, status))
        return status;
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
    if (!ParseJournalUse(app, "send-image", args, use, status))
        return status;
    MidiLink link;
    if (!OpenMidiLink(app, "send-image", args, link, status))
        return status;
    AImageSendProgressDialog dialog(
        *link.midi, *link.handler, app.prompter, app.clock, app.progress);
    if (!PaceMidiLink(app, "send-image", args, link, dialog, status))
        return status;
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
        = ParseArgs(app.options.args, { "--port", "--in", "--out", "--pace", "--card-size" }, {});
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
    if (!PaceMidiLink(app, "erase", args, link, dialog, status))
        return status;
    dialog.SetMidiAdvice(kMidiAdvice);
    const auto journal
        = TransferJournal::Beside(IniSettingsStore::ConfigDirectory(app.options.configDir));
    dialog.UseJournal(journal);
    const LinkOutcome outcome = dialog.Run(bytes);
    app.progress.Finish();
    if (outcome == LinkOutcome::Done)
        ReportErased(app, dialog, token, sizeGiven);
    else if (outcome != LinkOutcome::NotStarted)
        std::fprintf(stderr, "%s\n", dialog.HowFarItGot().c_str());
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
    if (!PaceMidiLink(app, "test-midi", args, link, dialog, status))
        return status;
    dialog.SetMidiAdvice(kMidiAdvice);
    const LinkOutcome outcome = dialog.Run();
    app.progress.Finish();
    if (outcome == LinkOutcome::Done)
        std::printf("%s\n", link.handler->DeviceBanner().c_str());
    return Conclude(app, link, outcome);
}

} // namespace cardmill
