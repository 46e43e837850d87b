#pragma once

#include <QObject>
#include <QString>

class MicLevelProbe;
class OutputCaptureCheck;

// The walkthrough's "Test" buttons, which prove capture works before an interview: the
// microphone's live meter (row 0) and a quiet tone played and heard back through the capture of
// what the computer plays (row 1). The most common failure of capture is silence that nobody
// notices; this makes it visible before it matters.
class CaptureProof : public QObject {
    Q_OBJECT

public:
    enum class ToneState { idle, playing, heard, notHeard };
    // What a permission row's test shows.
    struct RowTest {
        bool available = false;
        QString buttonLabel;
        QString status;
        bool showsMeter = false;
    };

    explicit CaptureProof(QObject* parent = nullptr);
    ~CaptureProof() override;

    RowTest rowTest(int row) const;
    ToneState toneState() const { return m_tone; }
    bool meterRunning() const { return m_meterRunning; }

    // Row 0 starts or stops the meter of `micUID` (empty: the default input); row 1 plays the
    // tone unless it is playing.
    void test(int row, const QString& micUID);
    void stopAll();

    // The texts, for the tests.
    static QString meterPrompt();
    static QString tonePlaying();
    static QString toneHeard();

signals:
    void changed();
    void micLevelChanged(double level);

private:
    void toneFinished(bool heard, const QString& message);

    MicLevelProbe* m_meter;
    OutputCaptureCheck* m_check;
    bool m_meterRunning = false;
    QString m_meterFailure;
    ToneState m_tone = ToneState::idle;
    QString m_toneMessage;
};
