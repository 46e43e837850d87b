#include "ui/LevelMeterModel.h"

#include "base/Assign.h"
#include "ui/Tones.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {
qint64 steadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

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
    m_waiting.setSingleShot(true);
    connect(&m_waiting, &QTimer::timeout, this, &LevelMeterModel::sample);
}

void LevelMeterModel::setSession(SessionController* session) {
    if (m_session == session)
        return;
    disconnect(m_levelsConnection);
    m_session = session;
    if (m_session) {
        m_levelsConnection = connect(m_session, &SessionController::levelsChanged, this,
                                     &LevelMeterModel::levelsArrived);
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

bool LevelMeterModel::wouldMove() const {
    const double level = currentLevel();
    return worthRepainting(m_fill, fillFraction(level)) || colorFor(level) != m_color;
}

void LevelMeterModel::levelsArrived() {
    // The other channel's levels, or a move under a point, cost this bar nothing.
    if (!wouldMove())
        return;
    const qint64 now = steadyMs();
    if (now / kSlotMs != m_movedInSlot) {
        m_waiting.stop();
        sample();
    } else if (!m_waiting.isActive()) {
        // The next post normally shows it first; the timer is for a level that comes to rest.
        m_waiting.start(int(kSlotMs - now % kSlotMs) + kRestMs);
    }
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
    if (moved)
        m_movedInSlot = steadyMs() / kSlotMs;
}
