#pragma once

#include "speech/SpeechEngine.h"

// The PocketSphinx recognizer with the model that Debian installs (English only).
class SphinxEngine final : public SpeechEngine {
public:
    static QString defaultModelFolder();

    // `modelFolder` holds the acoustic model folder "en-us", "en-us.lm.bin" and
    // "cmudict-en-us.dict".
    explicit SphinxEngine(const QString& modelFolder = defaultModelFolder());

    // The decoder answers in lower-case dictionary words; people read sentences.
    static QString formatHypothesis(const char* hypothesis);

    ModelState modelFor(const QString& locale) const override;
    Created createStream(Mode mode) override;

private:
    QString m_modelFolder;
};
