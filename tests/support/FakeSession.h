#pragma once

#include "session/SessionController.h"
#include "settings/AppSettings.h"
#include "support/FakeClock.h"
#include "support/SessionFakes.h"

#include <memory>

// A session controller over fakes of every component, with settings in `configDir`: what the
// interface tests drive. The test plays the model through `client`'s callbacks.
struct FakeSession {
    explicit FakeSession(const QString& configDir, const QString& sessionDir);

    AppSettings settings;
    FakeClock clock;
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
