#pragma once

#include <QString>
#include <QStringList>

// The layout of a recording's transcript file, and where it goes.
namespace RecordingTranscript {

// "Duration: 1 min 40 s" for 100.7 seconds (whole seconds, truncated).
QString durationLine(double seconds);
// "01:30" for chunk 2 of 45-second chunks.
QString chunkStamp(int chunkIndex, double chunkSeconds);
// The six lines that open every transcript.
QStringList headerLines(const QString& recordingFileName, double durationSeconds);
// "**Interviewer:** text" for channel 1.
QString speakerLine(int channel, const QString& text);

// Beside the recording: "<base>.transcript.md", unless a file of that name exists that is not
// itself a recording transcript (a session writes its own Q&A transcript under that name);
// then "<base>.recording.transcript.md".
QString targetPath(const QString& recordingPath);
// "Transcribing take.wav — 30% (60s of 200s)", the name taken as it is.
QString progressText(const QString& recordingFileName, double doneSeconds, double totalSeconds);

} // namespace RecordingTranscript
