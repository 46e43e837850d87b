#pragma once

#include "audio/AudioTypes.h"

// Captures what this computer plays. For now it holds the class-level listings the capture and
// the pickers share: the programs that play audio now, the ones a user may pick as the meeting
// app, and the audio object (sink-input index) of one of them.
class ProcessTapCapture {
public:
    // Streams that play now, each with its object id; this application never among them.
    static QList<AudioProcessInfo> runningAudioProcesses();
    // The playing programs first, then the sound server's other programs.
    static QList<AudioProcessInfo> selectableApps();
    // The object id of the first playing process with this bundle identifier.
    static std::optional<uint32_t> audioObject(const QString& bundleID);
};
