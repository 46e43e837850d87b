#include "speech/OnDeviceSpeech.h"

#include "base/Clock.h"
#include "speech/SpeechAvailability.h"
#include "speech/sphinx/SphinxEngine.h"

OnDeviceSpeech::OnDeviceSpeech()
    : OnDeviceSpeech(std::make_shared<SphinxEngine>(), currentSpeechLocale()) {}

OnDeviceSpeech::OnDeviceSpeech(std::shared_ptr<SpeechEngine> engine, const QString& locale)
    : m_engine(std::move(engine)), m_mic(m_engine, systemClock(), locale),
      m_recording(m_engine, locale) {}

bool speechModelInstalled() {
    return SphinxEngine().modelFor(currentSpeechLocale()) == SpeechEngine::ModelState::installed;
}
