#include "app/demo/ScriptedMicTranscriber.h"

#include <QRegularExpression>

namespace {
constexpr int kWordIntervalMs = 260; // about the pace of speech
}

ScriptedMicTranscriber::ScriptedMicTranscriber(double speed, QObject* parent)
    : QObject(parent), m_speed(speed) {
    connect(&m_timer, &QTimer::timeout, this, &ScriptedMicTranscriber::nextWord);
}

void ScriptedMicTranscriber::say(const QString& text) {
    m_words = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    m_heard = 0;
}

void ScriptedMicTranscriber::requestAuthorization(
    std::function<void(const Availability&)> completion) {
    QTimer::singleShot(0, this,
                       [completion = std::move(completion)] { completion(Availability::ready()); });
}

void ScriptedMicTranscriber::begin() {
    m_open = true;
    m_timer.start(int(kWordIntervalMs / m_speed));
}

void ScriptedMicTranscriber::nextWord() {
    if (m_heard >= m_words.size()) {
        m_timer.stop();
        return;
    }
    ++m_heard;
    if (onPartial)
        onPartial(m_words.first(m_heard).join(u' '));
}

void ScriptedMicTranscriber::end() {
    if (!m_open)
        return;
    m_timer.stop();
    m_open = false;
    // What was heard is the final text; the rest of the line was never said.
    const QString heard = m_words.first(m_heard).join(u' ');
    m_words.clear();
    m_heard = 0;
    if (!heard.isEmpty() && onFinal)
        onFinal(heard);
}

void ScriptedMicTranscriber::stopTask(bool silent) {
    if (!m_open)
        return;
    if (!silent) {
        end();
        return;
    }
    m_timer.stop();
    m_open = false;
}
