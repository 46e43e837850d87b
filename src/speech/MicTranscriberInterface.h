#pragma once

#include <QString>
#include <functional>

// The session controller's view of on-device transcription of the user's own answers.
class MicTranscriberInterface {
public:
    struct Availability {
        enum class Kind { ready, denied, unsupported };
        Kind kind = Kind::ready;
        QString message; // only for unsupported

        static Availability ready() { return {Kind::ready, {}}; }
        static Availability denied() { return {Kind::denied, {}}; }
        static Availability unsupported(const QString& why) { return {Kind::unsupported, why}; }
        friend bool operator==(const Availability&, const Availability&) = default;
    };

    virtual ~MicTranscriberInterface() = default;

    // Answers on the main thread.
    virtual void requestAuthorization(std::function<void(const Availability&)> completion) = 0;
    // Opens a segment (one answer).
    virtual void begin() = 0;
    // Closes the audio of the open segment; its final text follows.
    virtual void end() = 0;
    // Abandons the open segment; with `silent` no callback follows.
    virtual void stopTask(bool silent) = 0;
    // One microphone block, from the capture thread. Dropped unless a segment is open.
    virtual void append(const float* samples, int frames, double sampleRate) = 0;
    virtual bool hasOpenTask() const = 0;

    std::function<void(const QString& text)> onPartial;
    std::function<void(const QString& text)> onFinal;
    std::function<void(const QString& message)> onFailure;
};
