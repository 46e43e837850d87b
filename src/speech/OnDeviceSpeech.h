#pragma once

#include "speech/MicTranscriber.h"
#include "speech/RecordingTranscriber.h"

#include <memory>

// The speech components a session controller is handed, built on the PocketSphinx engine for
// the process's locale. Create on the main thread; lives as long as the controller.
// Whether the on-device recognizer has a model for the process's locale; looks at the disk
// only (no model is loaded). Thread-safe.
bool speechModelInstalled();

class OnDeviceSpeech {
public:
    OnDeviceSpeech();
    explicit OnDeviceSpeech(std::shared_ptr<SpeechEngine> engine, const QString& locale);

    MicTranscriber& micTranscriber() { return m_mic; }
    RecordingTranscriber& recordingTranscriber() { return m_recording; }

private:
    std::shared_ptr<SpeechEngine> m_engine;
    MicTranscriber m_mic;
    RecordingTranscriber m_recording;
};
