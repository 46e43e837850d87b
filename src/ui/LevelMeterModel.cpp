#include "ui/LevelMeterModel.h"

#include "base/Assign.h"
#include "ui/Tones.h"

#include <algorithm>
#include <cmath>

double LevelMeterModel::fillFraction(double level) {
    return std::clamp(level, 0.0, 1.0);
}

QColor LevelMeterModel::colorFor(double level) {
    return level > 0.9 ? Tones::red() : Tones::green();
}

bool LevelMeterModel::worthRepainting(double shown, double fill) {
    if (fill == shown)
        return false;
    return std::abs(fill - shown) >= kFillStep || fill == 0.0 || fill == 1.0;
}

LevelMeterModel::LevelMeterModel(QObject* parent) : QObject(parent) {
    m_sampler.setInterval(kSampleIntervalMs);
    m_sampler.setTimerType(Qt::PreciseTimer);
    connect(&m_sampler, &QTimer::timeout, this, &LevelMeterModel::sample);
}

void LevelMeterModel::setSession(SessionController* session) {
    if (m_session == session)
        return;
    disconnect(m_levelsConnection);
    m_session = session;
    if (m_session) {
        // Only wakes the sampler: a level change never repaints by itself.
        m_levelsConnection = connect(m_session, &SessionController::levelsChanged, this, [this] {
            if (!m_sampler.isActive())
                m_sampler.start();
        });
    }
    emit sessionChanged();
    sample();
}

void LevelMeterModel::setMeeting(bool meeting) {
    if (!assignIfChanged(m_meeting, meeting))
        return;
    emit channelChanged();
    sample();
}

double LevelMeterModel::currentLevel() const {
    if (!m_session)
        return 0;
    return m_meeting ? m_session->meetingLevel() : m_session->micLevel();
}

void LevelMeterModel::sample() {
    const double level = currentLevel();
    const double fill = fillFraction(level);
    const QColor color = colorFor(level);
    const bool fillMoves = worthRepainting(m_fill, fill);
    const bool moved = fillMoves || color != m_color;
    if (fillMoves) {
        m_fill = fill;
        emit fillChanged();
    }
    if (color != m_color) {
        m_color = color;
        emit colorChanged();
    }
    // A tick that saw no movement means the levels rest; the next change wakes the sampler.
    if (!moved)
        m_sampler.stop();
}
