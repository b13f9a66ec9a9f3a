// cardmill-gui: the desktop application.

#include "app/AApplication.h"
#include "app/AMainFrame.h"
#include "model/MProject.h"
#include "model/instrument/MInstFileInstrument.h"
#include "model/sound/MSoundFile.h"
#include "ui/ASampleDialog.h"
#include "ui/AVoiceDialog.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QTimer>
#include <cstring>

namespace {

/// The first instrument of the project (a sound when there is none).
cardmill::MInstFile* FirstVoice(cardmill::MProject& project)
{
    cardmill::MInstFile* sound = nullptr;
    for (int group = 0; group < cardmill::MProject::kSoundGroups; ++group) {
        for (int index = 0; index < project.CountItems(group); ++index) {
            auto* voice = dynamic_cast<cardmill::MInstFile*>(project.GetItem(group, index));
            if (dynamic_cast<cardmill::MInstFileInstrument*>(voice))
                return voice;
            if (voice && !sound)
                sound = voice;
        }
    }
    return sound;
}

/// Draws a dialog offscreen as it opens, without running it: nothing it shows is changed.
bool SavePicture(QDialog& dialog, const QString& file)
{
    dialog.show();
    QApplication::processEvents();
    const bool saved = dialog.grab().save(file);
    dialog.hide();
    return saved;
}

/// Voice Info of the project's first instrument, and Sample Info of its first stereo sample
/// (or its first), for the manual.
bool SaveInfoPictures(
    cardmill::AApplication& app, const QString& voiceFile, const QString& sampleFile)
{
    cardmill::MProject& project = app.Controller().Project();
    cardmill::MInstFile* voice = FirstVoice(project);
    if (!voice || voice->Samples().empty())
        return false;
    bool saved = true;
    if (!voiceFile.isEmpty()) {
        cardmill::AVoiceDialog dialog(
            *voice, project, app.GetPrompter(), app.GetClock(), &app.Frame());
        dialog.resize(640, 420);
        saved = SavePicture(dialog, voiceFile) && saved;
    }
    if (!sampleFile.isEmpty()) {
        cardmill::MSoundFile* sample = voice->Samples().front();
        for (cardmill::MSoundFile* candidate : voice->Samples())
            if (candidate->ChannelCount() == 2) {
                sample = candidate;
                break;
            }
        cardmill::ASampleDialog dialog(*sample, app.GetPrompter(), &app.Frame());
        dialog.resize(560, 560);
        saved = SavePicture(dialog, sampleFile) && saved;
    }
    return saved;
}

/// The command line's options, known before the application starts.
struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption configDir { QStringLiteral("config-dir"),
        QStringLiteral("Settings folder (default $XDG_CONFIG_HOME/Orvane Inc.)."),
        QStringLiteral("DIR") };
    QCommandLineOption noSplash { QStringLiteral("no-splash"),
        QStringLiteral("Start without the splash picture.") };
    QCommandLineOption screenshot { QStringLiteral("screenshot"),
        QStringLiteral("Save a picture of the window to FILE once the project is open, then quit "
                       "(for the manual)."),
        QStringLiteral("FILE") };
    QCommandLineOption voiceShot { QStringLiteral("voice-screenshot"),
        QStringLiteral("With --screenshot: also save Voice Info of the project's first "
                       "instrument to FILE."),
        QStringLiteral("FILE") };
    QCommandLineOption sampleShot { QStringLiteral("sample-screenshot"),
        QStringLiteral("With --screenshot: also save Sample Info of that instrument's first "
                       "stereo sample to FILE."),
        QStringLiteral("FILE") };

    CommandLine()
    {
        parser.setApplicationDescription(QStringLiteral(
            "Cardmill prepares the memory cards of the Zelta Synthesizer and the Percula "
            "drum module."));
        parser.addHelpOption();
        parser.addVersionOption();
        for (const QCommandLineOption* option :
            { &configDir, &noSplash, &screenshot, &voiceShot, &sampleShot })
            parser.addOption(*option);
        parser.addPositionalArgument(
            QStringLiteral("PROJECT.cmr"), QStringLiteral("A project to open."));
    }
};

void NameTheApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Orvane Inc."));
    QCoreApplication::setApplicationName(QStringLiteral("Cardmill"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CARDMILL_VERSION));
}

/// --help and --version answer without a display: a terminal or a package's checks have none.
bool AsksOnlyForText(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        for (const char* option : { "--help", "-h", "-?", "--help-all", "--version", "-v" })
            if (std::strcmp(argv[i], option) == 0)
                return true;
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (AsksOnlyForText(argc, argv)) {
        QCoreApplication text(argc, argv);
        NameTheApplication();
        CommandLine line;
        line.parser.process(text); // prints and leaves
        return 0;
    }
    QApplication qt(argc, argv);
    NameTheApplication();
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("cardmill"), QIcon(QStringLiteral(CARDMILL_ICON))));
    CommandLine line;
    QCommandLineParser& parser = line.parser;
    const QCommandLineOption& configDir = line.configDir;
    const QCommandLineOption& noSplash = line.noSplash;
    const QCommandLineOption& screenshot = line.screenshot;
    const QCommandLineOption& voiceShot = line.voiceShot;
    const QCommandLineOption& sampleShot = line.sampleShot;
    parser.process(qt);

    cardmill::AppOptions options;
    options.configDir = parser.value(configDir).toStdString();
    options.splash = !parser.isSet(noSplash);
    if (!parser.positionalArguments().isEmpty())
        options.projectToOpen = parser.positionalArguments().front().toStdString();
    cardmill::AApplication app(options);
    if (!app.Start())
        return 1;
    QTimer picture;
    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        QObject::connect(&picture, &QTimer::timeout, [&] {
            if (app.Pending().HasPending() || app.OperationRunning()
                || app.Frame().Status().PaneText(4) == QStringLiteral("Calculating..."))
                return;
            picture.stop();
            bool saved = app.Frame().grab().save(file);
            if (parser.isSet(voiceShot) || parser.isSet(sampleShot))
                saved = SaveInfoPictures(app, parser.value(voiceShot), parser.value(sampleShot))
                    && saved;
            QApplication::exit(saved ? 0 : 1);
        });
        // Once the loader has run and the free space is known.
        picture.start(500);
    }
    return QApplication::exec();
}
