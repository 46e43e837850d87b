#include "app/TranscribeCommand.h"

#include "speech/RecordingTranscriber.h"
#include "speech/RecordingTranscript.h"
#include "speech/SpeechAvailability.h"
#include "speech/sphinx/SphinxEngine.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace {
void printLine(FILE* stream, const QString& text) {
    fprintf(stream, "%s\n", text.toUtf8().constData());
    fflush(stream);
}
} // namespace

int runTranscribeCommand(const QString& wavPath) {
    const QString path = QFileInfo(wavPath).absoluteFilePath();
    const QString name = QFileInfo(path).fileName();
    auto engine = std::make_shared<SphinxEngine>();
    const QString locale = currentSpeechLocale();

    const auto availability = speechAvailability(*engine, locale);
    if (availability.kind != MicTranscriberInterface::Availability::Kind::ready) {
        printLine(stderr, QStringLiteral("On-device speech recognition is not available, so the "
                                         "recording can't be transcribed here."));
        if (!availability.message.isEmpty())
            printLine(stderr, availability.message);
        return 1;
    }

    printLine(stderr, QStringLiteral("Transcribing ") + name +
                          QStringLiteral("… this runs locally and takes a while."));
    RecordingTranscriber transcriber(engine, locale);
    int status = 1;
    transcriber.transcribe(
        path,
        [name](double done, double total) {
            printLine(stderr, RecordingTranscript::progressText(name, done, total));
        },
        [&status](const RecordingTranscriberInterface::Result& result) {
            if (const QString* written = std::get_if<QString>(&result)) {
                printLine(stderr,
                          QStringLiteral("Transcript written: ") + QFileInfo(*written).fileName());
                printLine(stdout, *written);
                status = 0;
            } else {
                printLine(stderr,
                          QStringLiteral("Transcription failed: ") +
                              std::get<RecordingTranscriberInterface::Failure>(result).description);
                status = 1;
            }
            QCoreApplication::exit(status);
        });
    QCoreApplication::exec();
    return status;
}
