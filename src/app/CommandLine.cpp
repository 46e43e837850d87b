#include "app/CommandLine.h"

#include "app/TranscribeCommand.h"

#include "settings/AppSettings.h"
#include "settings/SecretStore.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QQuickWindow>

#include <cstdio>

namespace {
void describeApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("corvinel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVINEL_VERSION));
    // Empty so Qt's own paths are ~/.local/share/Corvinel rather than <org>/<app>.
    QCoreApplication::setOrganizationName(QString());
}

int runDesktop(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Corvinel"));
    AppSettings& settings = AppSettings::shared();
    SecretStore::migrateFromKeychain(&settings,
                                     [&settings](const QString& key) { settings.setApiKey(key); });

    QQuickWindow window;
    window.setTitle(QStringLiteral("Corvinel"));
    window.setMinimumSize(QSize(420, 400));
    window.resize(480, 760);
    window.show();
    return app.exec();
}
} // namespace

int corvinelMain(int argc, char* argv[]) {
    describeApplication();

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Corvinel listens to your call and drafts answers to each question."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption transcribe(
        QStringLiteral("transcribe"),
        QStringLiteral(
            "Transcribe a recording on this computer and write its transcript beside it."),
        QStringLiteral("FILE.wav"));
    parser.addOption(transcribe);
    // Parsed before any application object exists, so --help works without a display.
    if (!parser.parse(arguments)) {
        fprintf(stderr, "corvinel: %s\n", qPrintable(parser.errorText()));
        fprintf(stderr, "Try 'corvinel --help'.\n");
        return 2;
    }
    if (parser.isSet(help)) {
        QCoreApplication app(argc, argv); // names the program in the usage line
        parser.showHelp(0);
    }
    if (parser.isSet(version))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        fprintf(stderr, "corvinel: unexpected argument '%s'\n",
                qPrintable(parser.positionalArguments().first()));
        return 2;
    }
    if (parser.isSet(transcribe)) {
        QCoreApplication app(argc, argv);
        return runTranscribeCommand(parser.value(transcribe));
    }
    return runDesktop(argc, argv);
}
