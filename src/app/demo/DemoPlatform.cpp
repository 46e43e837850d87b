#include "app/demo/DemoPlatform.h"

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
