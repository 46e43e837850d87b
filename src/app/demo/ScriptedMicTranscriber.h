#pragma once

#include "speech/MicTranscriberInterface.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

// Hears the candidate's scripted words instead of the microphone: after `say`, a segment
// that opens delivers the words as growing partial texts, and its end delivers the final.
class ScriptedMicTranscriber : public QObject, public MicTranscriberInterface {
    Q_OBJECT
public:
    explicit ScriptedMicTranscriber(double speed, QObject* parent = nullptr);

    // What the candidate says next.
    void say(const QString& text);

    void requestAuthorization(std::function<void(const Availability&)> completion) override;
    void begin() override;
    void end() override;
    void stopTask(bool silent) override;
    void append(const float*, int, double) override {}
    bool hasOpenTask() const override { return m_open; }

private:
    void nextWord();

    double m_speed;
    QStringList m_words;
    qsizetype m_heard = 0;
    bool m_open = false;
    QTimer m_timer;
};
