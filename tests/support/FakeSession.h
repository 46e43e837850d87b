#pragma once

#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "support/FakeClock.h"
#include "support/SessionFakes.h"

#include <memory>

// A session controller over fakes of every component, with settings in `configDir`: what the
// session and interface tests drive. The test plays the model through `client`'s callbacks.
// Timers run on `clock` (advanced by hand), or on `realClock` when one is given.
struct FakeSession {
    FakeSession(const QString& configDir, const QString& sessionDir,
                std::unique_ptr<Clock> realClock = nullptr);

    AppSettings settings;
    FakeClock clock;
    std::unique_ptr<Clock> realClock;
    FakeCaptureEngine engine;
    FakeRealtimeClient client;
    FakeMicTranscriber mic;
    FakeRecordingTranscriber recordings;
    FakeAppListing apps;
    FakePermissions permissions;
    FakeSleepInhibitor inhibitor;
    FakeFileRevealer revealer;
    std::unique_ptr<SessionController> controller;
};
