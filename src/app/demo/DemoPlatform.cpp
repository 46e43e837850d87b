#include "app/demo/DemoPlatform.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTimer>

#include <QCoreApplication>
#include <QTimer>

void NoRecordingTranscriber::transcribe(const QString&, std::function<void(double, double)>,
                                        std::function<void(const Result&)> completion) {
    QTimer::singleShot(0, qApp, [completion = std::move(completion)] {
        completion(Failure{QStringLiteral("The demo has no recordings to transcribe.")});
    });
}

FixedStartClock::FixedStartClock(const QDateTime& start)
    : m_system(makeSystemClock()), m_start(start), m_startedAt(m_system->now()) {}

QDateTime FixedStartClock::wallNow() const {
    return m_start.addMSecs(qint64((m_system->now() - m_startedAt) * 1000));
}

void KeepPackageInstaller::install(const QString& packagePath) {
    const InstallOutcome outcome{
        InstallOutcome::Kind::savedOnly,
        QStringLiteral("The demo installs nothing; the update stays in %1.").arg(packagePath)};
    // Never from inside install(): the updater hears the outcome a turn later.
    QTimer::singleShot(0, this, [this, outcome] { emit finished(outcome); });
}

namespace {
// A coding problem on a dark editor. Text needs the fonts of a GUI application; without one the
// picture stays plain.
QImage codingProblem() {
    QImage screen(1280, 720, QImage::Format_RGB32);
    screen.fill(QColor(0x1e, 0x1f, 0x24));
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return screen;
    QPainter painter(&screen);
    painter.setPen(QColor(0xe6, 0xe6, 0xe6));
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(34);
    painter.setFont(font);
    painter.drawText(60, 90, QStringLiteral("Problem 3: Merge intervals"));
    font.setPixelSize(26);
    painter.setFont(font);
    const char* const lines[] = {
        "Given a list of intervals [start, end],",
        "merge every pair that overlaps and return",
        "the result sorted by start.",
        "",
        "Example: [[1,3],[2,6],[8,10]] -> [[1,6],[8,10]]",
        "",
        "def merge(intervals: list[list[int]]) -> list[list[int]]:",
        "    ...",
    };
    int y = 170;
    for (const char* line : lines) {
        painter.drawText(60, y, QString::fromLatin1(line));
        y += 44;
    }
    return screen;
}
} // namespace

void DrawnScreen::capture(bool, std::function<void(const Result&)> done) {
    // As from a desktop, the picture comes a moment later, never inside the call.
    QTimer::singleShot(0, [done, screen = codingProblem()] { done({screen, false, {}}); });
}
