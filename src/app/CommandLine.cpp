#include "app/CommandLine.h"

#include "app/ReviewCommand.h"
#include "app/TranscribeCommand.h"

#include "app/AppComposition.h"
#include "app/DesktopApp.h"
#include "app/HeadlessSession.h"
#include "audio/AudioDeviceManager.h"
#include "audio/ProcessTapCapture.h"
#include "audio/pulse/PulseConnection.h"
#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "settings/SecretStore.h"

#include <QCommandLineParser>

#include <csignal>
#include <cstdio>

namespace {
void describeApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("corvinel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVINEL_VERSION));
    // Empty so Qt's own paths are ~/.local/share/Corvinel rather than <org>/<app>.
    QCoreApplication::setOrganizationName(QString());
}

// The stop signals the `corvinel` front (launcher/main.cpp) held while this program loaded.
// Taken out of the environment, so that no program started from here takes them for its own.
sigset_t takeHeldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (const QByteArray& number : qgetenv("CORVINEL_HELD_SIGNALS").split(','))
        if (const int value = number.toInt();
            value == SIGINT || value == SIGTERM || value == SIGHUP)
            sigaddset(&held, value);
    qunsetenv("CORVINEL_HELD_SIGNALS");
    return held;
}

void printLine(const QString& line) {
    fputs((line + u'\n').toUtf8().constData(), stdout);
}

// The listings need the sound server; without it they would look empty rather than failed.
bool soundServerReachable() {
    if (const auto error = PulseConnection::shared().connect()) {
        fprintf(stderr, "corvinel: %s\n", qPrintable(error->description));
        return false;
    }
    return true;
}

int listDevices(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (!soundServerReachable())
        return 1;
    for (const AudioInputDevice& device : AudioDeviceManager::inputDevices())
        printLine(device.label() + u'\t' + device.uid);
    return 0;
}

int listApps(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (!soundServerReachable())
        return 1;
    for (const AudioProcessInfo& process : ProcessTapCapture::selectableApps())
        printLine(QStringList{process.bundleID, process.name, QString::number(process.pid),
                              process.objectID ? QStringLiteral("playing")
                                               : QStringLiteral("not playing")}
                      .join(u'\t'));
    return 0;
}

int runHeadless(int argc, char* argv[], std::optional<double> duration) {
    // Before the slow part of the start: a Ctrl-C from now on stops the session cleanly.
    HeadlessSession::catchStopSignals();
    QCoreApplication app(argc, argv);
    AppSettings& settings = AppSettings::shared();
    SecretStore::migrateFromKeychain(&settings,
                                     [&settings](const QString& key) { settings.setApiKey(key); });
    AppComposition composition(settings);
    HeadlessSession session(composition.controller(), duration);
    return session.run();
}
} // namespace

int corvinelMain(int argc, char* argv[]) {
    const sigset_t held = takeHeldSignals();
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
    const QCommandLineOption review(
        QStringLiteral("review"),
        QStringLiteral("Write the review page of a past session beside its event log and print "
                       "its path."),
        QStringLiteral("FILE.events.jsonl"));
    parser.addOption(review);
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Run a live session in the terminal with the stored settings: cards on "
                       "stdout, messages on stderr; Ctrl-C stops it."));
    const QCommandLineOption duration(
        QStringLiteral("duration"),
        QStringLiteral("With --headless: stop after this many seconds."),
        QStringLiteral("seconds"));
    const QCommandLineOption listDevicesOption(
        QStringLiteral("list-devices"),
        QStringLiteral("List the audio input devices: label and uid, one a line."));
    const QCommandLineOption listAppsOption(
        QStringLiteral("list-apps"),
        QStringLiteral("List the applications that can be the meeting app: bundle id, name, "
                       "process id and whether it plays now."));
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral("Show the window over a scripted interview: no key, network or sound "
                       "server needed, and your settings stay untouched. The session starts by "
                       "itself; CORVINEL_DEMO_SPEED=4 plays it four times as fast."));
    const QCommandLineOption wayland(
        QStringLiteral("wayland"),
        QStringLiteral("On a Wayland session, open a native Wayland window instead of going "
                       "through XWayland (the window then cannot stay on top or keep its "
                       "place)."));
    parser.addOptions({headless, duration, listDevicesOption, listAppsOption, demo, wayland});
    // Parsed before any application object exists, so --help works without a display.
    const bool parsed = parser.parse(arguments);
    // A session lets them go once it takes them (catchStopSignals); every other mode at once,
    // as its caller had them.
    if (!parsed || !parser.isSet(headless))
        pthread_sigmask(SIG_UNBLOCK, &held, nullptr);
    if (!parsed) {
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
    if (parser.isSet(review)) {
        QCoreApplication app(argc, argv);
        return runReviewCommand(parser.value(review));
    }
    if (parser.isSet(transcribe)) {
        QCoreApplication app(argc, argv);
        return runTranscribeCommand(parser.value(transcribe));
    }
    const int modes = int(parser.isSet(headless)) + int(parser.isSet(listDevicesOption)) +
                      int(parser.isSet(listAppsOption)) + int(parser.isSet(demo));
    if (modes > 1) {
        fprintf(stderr, "corvinel: --headless, --list-devices, --list-apps and --demo exclude "
                        "each other\n");
        return 2;
    }
    std::optional<double> seconds;
    if (parser.isSet(duration)) {
        bool ok = false;
        seconds = parser.value(duration).toDouble(&ok);
        if (!ok || !(*seconds > 0) || *seconds > 24 * 3600.0) {
            fprintf(stderr, "corvinel: --duration needs a number of seconds above 0\n");
            return 2;
        }
        if (!parser.isSet(headless)) {
            fprintf(stderr, "corvinel: --duration goes with --headless\n");
            return 2;
        }
    }
    if (parser.isSet(listDevicesOption))
        return listDevices(argc, argv);
    if (parser.isSet(listAppsOption))
        return listApps(argc, argv);
    if (parser.isSet(headless))
        return runHeadless(argc, argv, seconds);
    if (parser.isSet(demo))
        return runDemo(argc, argv, parser.isSet(wayland));
    return runDesktop(argc, argv, parser.isSet(wayland));
}
