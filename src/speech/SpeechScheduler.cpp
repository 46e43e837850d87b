#include "speech/SpeechScheduler.h"

#include <QTimer>

#include <cmath>

void QtSpeechScheduler::schedule(double seconds, std::function<void()> task) {
    const int ms = int(std::lround(std::max(0.0, seconds) * 1000.0));
    QTimer::singleShot(ms, Qt::PreciseTimer, &m_context, std::move(task));
}
