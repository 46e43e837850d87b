#include "session/RecordingTranscription.h"

#include "speech/MicTranscriberInterface.h"
#include "speech/RecordingTranscriberInterface.h"
#include "speech/RecordingTranscript.h"

#include <QFileInfo>
#include <QUrl>
#include <algorithm>

RecordingTranscription::RecordingTranscription(MicTranscriberInterface& recognizer,
                                               RecordingTranscriberInterface& transcriber,
                                               Hooks hooks)
    : m_recognizer(recognizer), m_transcriber(transcriber), m_hooks(std::move(hooks)) {}

void RecordingTranscription::start(const QString& pathOrUrl) {
    const QString wavPath =
        pathOrUrl.startsWith(QStringLiteral("file:")) ? QUrl(pathOrUrl).toLocalFile() : pathOrUrl;
    const QString name = QFileInfo(wavPath).fileName();
    const std::weak_ptr<int> alive = m_alive;
    m_recognizer.requestAuthorization([this, alive, wavPath,
                                       name](const MicTranscriberInterface::Availability& state) {
        if (alive.expired())
            return;
        if (state.kind != MicTranscriberInterface::Availability::Kind::ready) {
            m_hooks.banner(QStringLiteral("On-device speech recognition is not available, so the "
                                          "recording can't be transcribed here."),
                           false);
            return;
        }
        m_hooks.banner(QStringLiteral("Transcribing ") + name +
                           QStringLiteral("… this runs locally and takes a while."),
                       false);
        m_transcriber.transcribe(
            wavPath,
            [this, alive, name](double done, double total) {
                if (alive.expired())
                    return;
                m_hooks.banner(RecordingTranscript::progressText(name, done, total), true);
                m_hooks.progress(std::clamp(done / std::max(total, 1.0), 0.0, 1.0));
            },
            [this, alive](const RecordingTranscriberInterface::Result& result) {
                if (alive.expired())
                    return;
                m_hooks.progress(-1);
                if (const QString* path = std::get_if<QString>(&result)) {
                    m_hooks.banner(QStringLiteral("Transcript written: ") +
                                       QFileInfo(*path).fileName(),
                                   false);
                    m_hooks.reveal(*path);
                } else {
                    m_hooks.banner(
                        QStringLiteral("Transcription failed: ") +
                            std::get<RecordingTranscriberInterface::Failure>(result).description,
                        false);
                }
            });
    });
}
