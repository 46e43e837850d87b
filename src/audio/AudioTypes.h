#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

// An audio input device as the sound server lists it.
struct AudioInputDevice {
    uint32_t id = 0; // the source index
    QString uid;     // the source name, stable across restarts
    QString name;    // the description shown to the user
    int channelCount = 0;
    double sampleRate = 0;

    // "Studio Interface — 8 ch @ 48000 Hz"
    QString label() const;
    friend bool operator==(const AudioInputDevice&, const AudioInputDevice&) = default;
};

// An application that plays audio now (objectID set) or is merely running.
struct AudioProcessInfo {
    std::optional<uint32_t> objectID; // the sink-input index while it plays
    int32_t pid = -1;
    QString bundleID;
    QString name;
    friend bool operator==(const AudioProcessInfo&, const AudioProcessInfo&) = default;
};

// What the loopback capture records: everything the computer plays, or one application.
struct TapTarget {
    std::optional<uint32_t> processObject; // absent: the whole system output

    static TapTarget systemOutput() { return {}; }
    static TapTarget process(uint32_t objectID) { return {objectID}; }
    bool isSystemOutput() const { return !processObject.has_value(); }
    friend bool operator==(const TapTarget&, const TapTarget&) = default;
};

// A failure with the text the user sees.
struct AudioFailure {
    QString description;
    friend bool operator==(const AudioFailure&, const AudioFailure&) = default;
};

// How a running capture stream failed, as its recorder heard it.
struct StreamFault {
    enum class Kind {
        connectionLost, // the sound server went away (or closed the connection)
        streamEnded     // the server ended this one stream (its device was removed…)
    };
    Kind kind = Kind::connectionLost;
    QString reason; // the server's words: "Connection terminated", "Entity killed"
    QString device; // the description of what was recorded: "FakeMic", "FakeSpeakers"
    double at = 0;  // when the recorder heard it, in Clock::now() seconds
};

// A capture failure with the text the user sees and when it happened.
struct CaptureFault {
    QString description;
    double at = 0; // Clock::now() seconds
};
