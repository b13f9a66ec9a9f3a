// cardmill-gui: the desktop application.

#include "app/AApplication.h"

#include <QApplication>
#include <QCommandLineParser>

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
    parser.addOption(configDir);
    parser.addOption(noSplash);
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
    return QApplication::exec();
}
