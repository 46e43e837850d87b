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
