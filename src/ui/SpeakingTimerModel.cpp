#include "ui/SpeakingTimerModel.h"

#include "base/Assign.h"
#include "session/SessionController.h"
#include "ui/Symbols.h"
#include "ui/Tones.h"

QColor SpeakingTimerModel::colorFor(double elapsed) {
    if (elapsed < 45)
        return Tones::green();
    if (elapsed < 90)
        return Tones::orange();
    return Tones::red();
}

void SpeakingTimerModel::setElapsed(double elapsed) {
    if (!assignIfChanged(m_elapsed, elapsed))
        return;
    emit elapsedChanged();
    const QString text = SessionController::format(elapsed);
    if (text != m_text) {
        m_text = text;
        emit textChanged();
    }
    const QColor color = colorFor(elapsed);
    if (color != m_color) {
        m_color = color;
        emit colorChanged();
    }
}

void SpeakingTimerModel::setLive(bool live) {
    if (!assignIfChanged(m_live, live))
        return;
    emit liveChanged();
}

QColor SpeakingTimerModel::fillColor() const {
    return Tones::faded(m_color, 0.14);
}

QColor SpeakingTimerModel::strokeColor() const {
    return Tones::faded(m_color, 0.35);
}

QString SpeakingTimerModel::symbol() const {
    return m_live ? Symbols::micLive() : Symbols::micQuiet();
}
