#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

class MicTranscriberInterface;
class RecordingTranscriberInterface;

// Transcribing a saved recording on this computer: the recognizer's availability, the
// progress and the outcome, all told through the banner. Nothing arrives once it is gone.
class RecordingTranscription {
public:
    struct Hooks {
        // A progress report is marked so that the next other banner ends its progress bar.
        std::function<void(const QString& text, bool isProgress)> banner;
        std::function<void(double fraction)> progress; // -1 when none runs
        std::function<void(const QString& path)> reveal;
    };

    RecordingTranscription(MicTranscriberInterface& recognizer,
                           RecordingTranscriberInterface& transcriber, Hooks hooks);

    // `pathOrUrl`: a file path or a file: URL, as a file chooser gives it.
    void start(const QString& pathOrUrl);

private:
    MicTranscriberInterface& m_recognizer;
    RecordingTranscriberInterface& m_transcriber;
    Hooks m_hooks;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
