#pragma once

#include <QString>
#include <functional>
#include <variant>

// Transcribes a saved recording on the device into a markdown file beside it.
class RecordingTranscriberInterface {
public:
    struct Failure {
        QString description;
    };
    // The written transcript's path, or why there is none.
    using Result = std::variant<QString, Failure>;

    virtual ~RecordingTranscriberInterface() = default;

    // Progress (seconds done, seconds total) and completion arrive on the main thread.
    virtual void transcribe(const QString& wavPath,
                            std::function<void(double done, double total)> progress,
                            std::function<void(const Result& result)> completion) = 0;
};
