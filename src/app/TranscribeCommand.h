#pragma once

#include <QString>

// `corvinel --transcribe FILE.wav`: transcribes a recording on the device, progress on stderr,
// the written transcript's path on stdout. Needs a running QCoreApplication; returns the exit
// status.
int runTranscribeCommand(const QString& wavPath);
