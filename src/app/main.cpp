// cardmill-gui: the desktop application.

#include "app/AApplication.h"
#include "app/AMainFrame.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

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
    parser.addOption(configDir);
    parser.addOption(noSplash);
    parser.addOption(screenshot);
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
            const bool saved = app.Frame().grab().save(file);
            QApplication::exit(saved ? 0 : 1);
        });
        // Once the loader has run and the free space is known.
        picture.start(500);
    }
    return QApplication::exec();
}
