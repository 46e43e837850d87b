#include "app/OnDeviceSpeech.h"

#include "speech/MicTranscriberInterface.h"
#include "speech/RecordingTranscriberInterface.h"

namespace {

const QString kNotBuiltIn =
    QStringLiteral("On-device speech recognition is not part of this build.");

// Transcribes nothing and says so; the session then never opens a segment.
class SpeechNotBuiltIn final : public MicTranscriberInterface {
public:
    void requestAuthorization(std::function<void(const Availability&)> completion) override {
        if (completion)
            completion(Availability::unsupported(kNotBuiltIn));
    }
    void begin() override {}
    void end() override {}
    void stopTask(bool) override {}
    void append(const float*, int, double) override {}
    bool hasOpenTask() const override { return false; }
};

class RecordingSpeechNotBuiltIn final : public RecordingTranscriberInterface {
public:
    void transcribe(const QString&, std::function<void(double, double)>,
                    std::function<void(const Result&)> completion) override {
        if (completion)
            completion(Failure{kNotBuiltIn});
    }
};

} // namespace

std::unique_ptr<MicTranscriberInterface> makeMicTranscriber() {
    return std::make_unique<SpeechNotBuiltIn>();
}

std::unique_ptr<RecordingTranscriberInterface> makeRecordingTranscriber() {
    return std::make_unique<RecordingSpeechNotBuiltIn>();
}
