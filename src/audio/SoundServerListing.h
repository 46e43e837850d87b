#pragma once

#include "audio/AudioTypes.h"
#include "audio/pulse/PulseRecords.h"

// Turns what the sound server reports into the device and application listings: the filters,
// fallbacks, grouping and order, apart from any server so that they can be checked on their own.
namespace SoundServerListing {

// Who is asking: this process never lists itself.
struct Self {
    int32_t pid = -1;
    QString bundleID;
};

// Sources that are not monitors and have channels; sorted by name.
QList<AudioInputDevice> inputDevices(const QList<PulseSource>& sources);
// The entry that is the server's default source; absent when it is none of them.
std::optional<AudioInputDevice> defaultInputDevice(const QList<AudioInputDevice>& devices,
                                                   const PulseServerInfo& server);

// A stream's or client's bundle identifier: "application.id", else the process binary.
QString bundleID(const PulseProperties& properties);
// The process id a stream or client names; -1 when it names none.
int32_t processID(const PulseProperties& properties);

// Whether a client or stream with these properties is part of the sound server itself: its
// daemons and session manager (PipeWire, WirePlumber, PulseAudio), a module's client or one of
// its plumbing streams (loopbacks, filters). None of them is an application one could meet in.
bool isSoundServerPart(const PulseProperties& properties, const QString& driver = {});

// Streams of applications that play now (not corked), one entry each, with the stream index as
// object id.
QList<AudioProcessInfo> runningAudioProcesses(const QList<PulseSinkInput>& sinkInputs,
                                              const QList<PulseClient>& clients, const Self& self);
// The playing processes (one per bundle identifier) and then the other clients that belong
// to a program, each group sorted by name; neither this process nor the sound server's parts.
QList<AudioProcessInfo> selectableApps(const QList<AudioProcessInfo>& playing,
                                       const QList<PulseClient>& clients, const Self& self);

// Logs a failed listing once, until a listing works again.
void reportFailure(const PulseError& error);
void reportSuccess();

} // namespace SoundServerListing
