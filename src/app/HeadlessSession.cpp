#include "app/HeadlessSession.h"

#include "session/SessionController.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A signal handler may only write to a descriptor; the event loop reads the other end.
int s_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(s_signalPipe[1], &byte, 1);
}

// The text without what a terminal would take as a command: C0 controls other than line feed
// and tab, DEL and the C1 controls. The service's text is printed as it came otherwise.
QString printable(const QString& text) {
    QString kept;
    kept.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        const bool control =
            (code < 0x20 && code != u'\n' && code != u'\t') || (code >= 0x7f && code <= 0x9f);
        if (!control)
            kept += c;
    }
    return kept;
}

// Written with its length, not as a C string: nothing in the text can end it early.
void print(FILE* file, const QString& text) {
    const QByteArray bytes = printable(text).toUtf8();
    fwrite(bytes.constData(), 1, size_t(bytes.size()), file);
    fflush(file);
}

// After the answer of a card the stop or a dropped connection cut off, in the words of the
// card's other notices.
const QString& interruptedMark() {
    static const QString text = QStringLiteral(" (answer interrupted)");
    return text;
}

} // namespace

HeadlessSession::HeadlessSession(SessionController& controller,
                                 std::optional<double> durationSeconds, FILE* out, FILE* err)
    : m_controller(controller), m_duration(durationSeconds), m_out(out), m_err(err) {
    catchStopSignals();
    // The cards the files could not keep are on stdout above, not behind a button.
    m_controller.setCardsShown(SessionController::CardsShown::onTerminal);
    if (s_signalPipe[0] >= 0) {
        m_signals = new QSocketNotifier(s_signalPipe[0], QSocketNotifier::Read, this);
        connect(m_signals, &QSocketNotifier::activated, this, [this] {
            char drained[16];
            while (::read(s_signalPipe[0], drained, sizeof drained) > 0) {
            }
            requestStop();
        });
    }
    connect(&m_controller, &SessionController::bannerChanged, this, &HeadlessSession::printBanner);
    connect(&m_controller, &SessionController::bannerLinksChanged, this,
            &HeadlessSession::printLinks);
    connect(&m_controller, &SessionController::pairsChanged, this, &HeadlessSession::printCards);
    connect(&m_controller, &SessionController::statusChanged, this,
            &HeadlessSession::printReconnect);
    connect(&m_controller, &SessionController::isSessionActiveChanged, this, [this] {
        if (m_controller.isSessionActive()) {
            m_wasActive = true;
            // Asked to stop while the start was still under way. Not from inside this
            // notification: the start has yet to open the event log, which the stop closes.
            if (m_stopRequested)
                QTimer::singleShot(0, this, &HeadlessSession::requestStop);
        }
    });
    connect(&m_controller, &SessionController::sessionEnded, this, [this] {
        printInterrupted();
        // A stop nobody here asked for: the model connection failed for good.
        if (!m_stopRequested)
            QTimer::singleShot(0, this, [this] { finish(1); });
    });
}

HeadlessSession::~HeadlessSession() = default;

void HeadlessSession::catchStopSignals() {
    if (s_signalPipe[0] < 0 && ::pipe2(s_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        // SIGHUP: the terminal was closed, which must save the session like Ctrl-C. Unless the
        // session was started to outlive its terminal (nohup), which ignores it for us.
        struct sigaction inherited {};
        if (sigaction(SIGHUP, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN)
            sigaction(SIGHUP, &action, nullptr);
    }
    // Held by the front while the program loaded, or blocked by whoever started it: a stop
    // signal that came meanwhile is delivered now, to the handler. The threads started from
    // here on inherit the mask.
    sigset_t stop;
    sigemptyset(&stop);
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stop, number);
    pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
}

QString HeadlessSession::formatCard(const QString& timestamp, const QString& question,
                                    const QString& answer) {
    return QStringLiteral("[%1] Q: %2\nA: %3\n\n").arg(timestamp, question, answer);
}

int HeadlessSession::run() {
    printBanner(); // a notice from the launch (the key file made private), before Start clears it
    m_controller.start();
    m_startWatch = new QTimer(this);
    connect(m_startWatch, &QTimer::timeout, this, &HeadlessSession::checkStarted);
    m_startWatch->start(50);
    checkStarted();
    if (m_duration)
        QTimer::singleShot(static_cast<int>(*m_duration * 1000.0), this,
                           &HeadlessSession::requestStop);
    if (!m_finished)
        QCoreApplication::exec();
    return m_status;
}

void HeadlessSession::checkStarted() {
    if (m_finished || m_controller.isStarting())
        return;
    m_startWatch->stop();
    if (!m_controller.isSessionActive() && !m_wasActive)
        finish(1); // the banner said why
}

void HeadlessSession::printBanner() {
    const QString text = m_controller.bannerText();
    if (text.isEmpty())
        return;
    print(m_err, text + u'\n');
}

// The banner's links arrive just after its text.
void HeadlessSession::printLinks() {
    QString lines;
    for (const SessionController::BannerLink& link : m_controller.bannerLinks())
        lines += QStringLiteral("  %1: %2\n").arg(link.label, link.path);
    if (!lines.isEmpty())
        print(m_err, lines);
}

// Why the connection is being renewed; the window shows it beside the status. A failure comes
// as the banner instead.
void HeadlessSession::printReconnect() {
    if (m_controller.statusKind() != SessionController::StatusKind::reconnecting) {
        m_reconnectPrinted.clear();
        return;
    }
    // The next connection does not go on with the answer the dropped one was streaming.
    printInterrupted();
    const QString text = m_controller.statusMessage();
    if (text.isEmpty() || text == m_reconnectPrinted)
        return;
    m_reconnectPrinted = text;
    print(m_err, text + u'\n');
}

void HeadlessSession::printCards() {
    for (const QAPair& pair : m_controller.pairs())
        if (pair.isComplete && !pair.answer.isEmpty())
            printCard(pair, pair.answer);
}

// The answers still streaming when the session ends or its connection drops: they go no
// further.
void HeadlessSession::printInterrupted() {
    for (const QAPair& pair : m_controller.pairs())
        if (!pair.isComplete && !pair.answer.isEmpty())
            printCard(pair, pair.answer + interruptedMark());
}

void HeadlessSession::printCard(const QAPair& pair, const QString& answer) {
    const QPair<QString, QString> shown{pair.question, answer};
    if (m_printed.value(pair.id) == shown)
        return;
    m_printed.insert(pair.id, shown);
    print(m_out, formatCard(pair.timestamp, pair.question, answer));
}

void HeadlessSession::requestStop() {
    m_stopRequested = true;
    if (m_finished || m_controller.isStarting())
        return; // the start finishes first, then this runs again
    m_controller.stop();
    finish(0);
}

void HeadlessSession::finish(int status) {
    if (m_finished)
        return;
    m_finished = true;
    m_status = status;
    QCoreApplication::exit(status);
}
