#pragma once

#include "audio/AppListing.h"
#include "base/Clock.h"
#include "platform/Platform.h"
#include "platform/ScreenCapture.h"
#include "speech/RecordingTranscriberInterface.h"
#include "update/PackageInstaller.h"

// The demo's stand-ins for the desktop: everything granted, no applications, no file manager,
// no recordings to transcribe, no package installer or restart, and a wall clock that starts at a
// fixed time of day so the cards' times are the same on every run.

class GrantedPermissions : public Permissions {
public:
    Status microphoneStatus() override { return Status::authorized; }
    void requestMicrophone(std::function<void(bool)> completion) override { completion(true); }
    bool screenCapturePreflight() override { return true; }
    bool requestScreenCapture() override { return true; }
    Report check() override { return {true, true, true}; }
};

// The screen the demo asks about: a coding problem drawn on the spot, the same every run.
class DrawnScreen : public ScreenCapture {
public:
    void capture(bool interactive, std::function<void(const Result&)> done) override;
    // Drawn here: no desktop dialog shows.
    void setParentWindow(const QString&) override {}
};

class NoAppListing : public AppListing {
public:
    QList<AudioProcessInfo> selectableApps() override { return {}; }
    std::optional<uint32_t> audioObject(const QString&) override { return std::nullopt; }
};

class NoRecordingTranscriber : public RecordingTranscriberInterface {
public:
    void transcribe(const QString& wavPath, std::function<void(double, double)> progress,
                    std::function<void(const Result&)> completion) override;
};

class FixedStartClock : public Clock {
public:
    // The wall clock reads `start` when the clock is made and runs on from there.
    explicit FixedStartClock(const QDateTime& start);
    double now() const override { return m_system->now(); }
    QDateTime wallNow() const override;
    std::unique_ptr<Timer> schedule(double seconds, bool repeating,
                                    std::function<void()> action) override {
        return m_system->schedule(seconds, repeating, std::move(action));
    }

private:
    std::unique_ptr<Clock> m_system;
    QDateTime m_start;
    double m_startedAt;
};

// The demo installs nothing on the system: a package (which its feed can never deliver) stays
// where it was saved.
class KeepPackageInstaller : public PackageInstaller {
    Q_OBJECT
public:
    void install(const QString& packagePath) override;
};

// The demo never replaces its binary, so there is nothing to start again.
class NoRestart : public Relauncher {
public:
    void relaunch() override {}
};
