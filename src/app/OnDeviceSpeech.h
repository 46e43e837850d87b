#pragma once

#include <memory>

class MicTranscriberInterface;
class RecordingTranscriberInterface;

// Where the composition root gets the on-device transcribers. Until the recognizer is built
// in, both answer that on-device speech is unavailable, which the session shows as a banner
// and which turns "transcribe my answers" off for the run.
std::unique_ptr<MicTranscriberInterface> makeMicTranscriber();
std::unique_ptr<RecordingTranscriberInterface> makeRecordingTranscriber();
