#include "ui/CaptureProof.h"

#include "audio/MicLevelProbe.h"
#include "audio/OutputCaptureCheck.h"

CaptureProof::CaptureProof(QObject* parent)
    : QObject(parent), m_meter(new MicLevelProbe(QString(), this)),
      m_check(new OutputCaptureCheck(QString(), this)) {
    connect(m_meter, &MicLevelProbe::levelChanged, this,
            [this](float level) { emit micLevelChanged(level); });
    connect(m_meter, &MicLevelProbe::failed, this, [this](const QString& message) {
        m_meterRunning = false;
        m_meterFailure = message;
        emit micLevelChanged(0);
        emit changed();
    });
    connect(m_check, &OutputCaptureCheck::finished, this, &CaptureProof::toneFinished);
}

CaptureProof::~CaptureProof() = default;

QString CaptureProof::meterPrompt() {
    return QStringLiteral("Say something — the bar should move.");
}

QString CaptureProof::tonePlaying() {
    return QStringLiteral("Playing a quiet tone…");
}

QString CaptureProof::toneHeard() {
    return QStringLiteral("Heard it — the meeting's audio reaches Corvinel.");
}

CaptureProof::RowTest CaptureProof::rowTest(int row) const {
    switch (row) {
    case 0:
        if (m_meterRunning)
            return {true, QStringLiteral("Stop"), meterPrompt(), true};
        return {true, QStringLiteral("Test"), m_meterFailure, false};
    case 1:
        switch (m_tone) {
        case ToneState::idle:
            return {true, QStringLiteral("Test"), QString(), false};
        case ToneState::playing:
            return {true, QStringLiteral("Test"), tonePlaying(), false};
        case ToneState::heard:
            return {true, QStringLiteral("Test"), toneHeard(), false};
        case ToneState::notHeard:
            return {true, QStringLiteral("Test"), m_toneMessage, false};
        }
        break;
    default:
        break;
    }
    return {};
}

void CaptureProof::test(int row, const QString& micUID) {
    if (row == 0) {
        if (m_meterRunning) {
            m_meter->stop();
            m_meterRunning = false;
            emit micLevelChanged(0);
        } else {
            m_meterFailure.clear();
            m_meterRunning = true;
            m_meter->start(micUID);
        }
        emit changed();
    } else if (row == 1 && m_tone != ToneState::playing) {
        m_tone = ToneState::playing;
        m_toneMessage.clear();
        m_check->start();
        emit changed();
    }
}

void CaptureProof::stopAll() {
    if (!m_meterRunning)
        return;
    m_meter->stop();
    m_meterRunning = false;
    emit micLevelChanged(0);
    emit changed();
}

void CaptureProof::toneFinished(bool heard, const QString& message) {
    m_tone = heard ? ToneState::heard : ToneState::notHeard;
    m_toneMessage = message;
    emit changed();
}
