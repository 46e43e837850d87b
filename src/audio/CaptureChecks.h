#pragma once

#include "audio/AudioTypes.h"

#include <QString>
#include <optional>

// What the first-launch walkthrough's rows mean on this platform, asked of the sound server
// afresh on every call. Each may take a few seconds when the server is frozen: call them off
// the GUI thread. Thread-safe. `server` empty: the address the client library finds itself
// (PULSE_SERVER, client.conf); an unreachable server answers false.

// The server lists at least one input that is not the monitor of an output.
bool hasMicrophone(const QString& server = {});

// A record stream on the default output's monitor (what the computer plays) opens and keeps
// running for a moment.
bool canRecordSystemOutput(const QString& server = {});

// The server's default input, when it is a real input.
std::optional<AudioInputDevice> defaultMicrophone(const QString& server = {});
