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
#include <QTimer>

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

} // namespace

int main(int argc, char** argv)
{
    QApplication qt(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Orvane Inc."));
    QApplication::setApplicationName(QStringLiteral("Cardmill"));
    QApplication::setApplicationVersion(QStringLiteral(CARDMILL_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Cardmill prepares the memory cards of the Zelta Synthesizer and the Percula "
        "drum module."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption configDir(QStringLiteral("config-dir"),
        QStringLiteral("Settings folder (default $XDG_CONFIG_HOME/Orvane Inc.)."),
        QStringLiteral("DIR"));
    const QCommandLineOption noSplash(
        QStringLiteral("no-splash"), QStringLiteral("Start without the splash picture."));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
        QStringLiteral("Save a picture of the window to FILE once the project is open, then quit "
                       "(for the manual)."),
        QStringLiteral("FILE"));
    const QCommandLineOption voiceShot(QStringLiteral("voice-screenshot"),
        QStringLiteral("With --screenshot: also save Voice Info of the project's first "
                       "instrument to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption sampleShot(QStringLiteral("sample-screenshot"),
        QStringLiteral("With --screenshot: also save Sample Info of that instrument's first "
                       "stereo sample to FILE."),
        QStringLiteral("FILE"));
    parser.addOption(configDir);
    parser.addOption(noSplash);
    parser.addOption(screenshot);
    parser.addOption(voiceShot);
    parser.addOption(sampleShot);
    parser.addPositionalArgument(
        QStringLiteral("PROJECT.cmr"), QStringLiteral("A project to open."));
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
