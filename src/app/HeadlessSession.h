#pragma once

#include <QHash>
#include <QObject>
#include <QPair>
#include <QString>
#include <cstdio>
#include <optional>

class QSocketNotifier;
class QTimer;
class SessionController;
struct QAPair;

// A live session in the terminal: Start at once with the stored settings, each finished card
// on stdout, each banner on stderr, and Stop on SIGINT, SIGTERM or SIGHUP or when the duration
// is up. An answer cut off by the stop or a dropped connection is printed as it stood, marked
// as interrupted.
class HeadlessSession : public QObject {
    Q_OBJECT
public:
    HeadlessSession(SessionController& controller, std::optional<double> durationSeconds,
                    FILE* out = stdout, FILE* err = stderr);
    ~HeadlessSession() override;

    // Takes SIGINT, SIGTERM and SIGHUP (unless started under nohup) from here on, blocked or
    // not, so that a signal that comes before the session exists still stops it once it runs;
    // one held since the launch is taken now. Call it first thing; the constructor calls it
    // too.
    static void catchStopSignals();

    // Runs the session to its end; the exit status: 0 after a requested stop, 1 when the
    // session could not start or ended by itself.
    int run();

    // "[09:05:07] Q: question" and "A: answer", then an empty line.
    static QString formatCard(const QString& timestamp, const QString& question,
                              const QString& answer);

private:
    void printBanner();
    void printLinks();
    void printReconnect();
    void printCards();
    void printInterrupted();
    void printCard(const QAPair& pair, const QString& answer);
    void requestStop();
    void checkStarted();
    void finish(int status);

    SessionController& m_controller;
    std::optional<double> m_duration;
    FILE* m_out;
    FILE* m_err;
    QHash<QString, QPair<QString, QString>> m_printed; // card id → what was printed
    QString m_reconnectPrinted;
    QSocketNotifier* m_signals = nullptr;
    QTimer* m_startWatch = nullptr;
    bool m_wasActive = false;
    bool m_stopRequested = false;
    bool m_finished = false;
    int m_status = 0;
};
