#include "audio/AudioCaptureEngineInterface.h"

#include "audio/CaptureFaults.h"

QString AudioCaptureEngineInterface::missingMeetingDevice(const QString& uid) {
    return QStringLiteral("The audio input device “%1” is not connected, so the meeting can't be "
                          "heard. Connect it, or choose another device in Settings.")
        .arg(uid);
}

QString AudioCaptureEngineInterface::description(EngineError error) {
    switch (error) {
    case EngineError::noServer:
        return CaptureFaults::serverNotRunning();
    case EngineError::noDevice:
        return QStringLiteral("Selected audio input device is not available.");
    case EngineError::badFormat:
        return QStringLiteral("Could not read a valid input format from the device.");
    case EngineError::micDenied:
        return QStringLiteral("Microphone access was denied. Allow it in the desktop's privacy "
                              "settings (GNOME: Privacy ▸ Microphone).");
    }
    return {};
}
