#pragma once

#include "audio/AppListing.h"
#include "audio/AudioCaptureEngineInterface.h"
#include "platform/Platform.h"
#include "platform/ScreenCapture.h"
#include "realtime/RealtimeClientInterface.h"
#include "speech/MicTranscriberInterface.h"
#include "speech/RecordingTranscriberInterface.h"

#include <QMap>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <mutex>

// Records every call; the test plays the server's part through the on… callbacks.
class FakeRealtimeClient final : public RealtimeClientInterface {
public:
    void start(const Config& config) override { starts.append(config); }
    void stop() override { ++stops; }
    void append(const QByteArray& pcm16) override {
        std::lock_guard lock(mutex);
        appended += pcm16;
    }
    void updateHistory(const QList<HistoryPair>& pairs) override { histories.append(pairs); }
    void updateInstructions(const QString& text) override { instructions.append(text); }
    void regenerate(const QString& cardID, const QString& question,
                    const QByteArray& image = {}) override {
        regeneratedCards.append(cardID);
        regenerations.append(question);
        images.append(image);
    }
    void cancelResponse(const QString& responseID) override { cancels.append(responseID); }
    void skipTurn(const QString& itemID) override { skipped.append(itemID); }

    QList<Config> starts;
    int stops = 0;
    std::mutex mutex;
    QByteArray appended;
    QList<QList<HistoryPair>> histories;
    QStringList instructions;
    QStringList regenerations;
    QStringList regeneratedCards;
    QStringList cancels;
    QStringList skipped;
    QList<QByteArray> images;
};

// Starts at once, or blocks until release() when `blockStart` is set.
class FakeCaptureEngine final : public AudioCaptureEngineInterface {
public:
    std::optional<AudioFailure> start(const Source& source, StreamSource streamSource, bool record,
                                      const QString& archivePath) override;
    void stop() override;
    std::optional<AudioFailure> retarget(const TapTarget& meeting) override;
    bool isRunning() const override { return running.load(); }
    // As the engine: a device without a meeting channel of its own streams the microphone.
    StreamSource streamSource() const override;
    QString recordingPath() const override;
    std::optional<AudioFailure> recordingFailure() const override { return recordingFailureAtStop; }
    double recordingDroppedSeconds() const override { return droppedSecondsAtStop; }

    // Lets a blocked start return.
    void release();

    bool blockStart = false;
    std::optional<AudioFailure> startFailure;
    std::optional<AudioFailure> retargetFailure;
    std::optional<AudioFailure> recordingFailureAtStop;
    std::optional<StreamSource> streamed; // what the engine says it streams, when not as asked
    double droppedSecondsAtStop = 0;
    std::atomic<bool> running{false};
    std::atomic<int> startCalls{0};
    int stopCalls = 0;
    std::optional<Source> lastSource;
    std::optional<StreamSource> lastStreamSource;
    bool lastRecord = false;
    QString lastArchivePath;
    QList<TapTarget> retargets;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_isReleased = false;
    QString m_recordingPath;
};

// Answers each capture with `next`, from the event loop as the desktop's would.
class FakeScreenCapture final : public ScreenCapture {
public:
    void capture(bool interactive, std::function<void(const Result&)> done) override {
        requests.append(interactive);
        QTimer::singleShot(0, [done, result = next] { done(result); });
    }
    void setParentWindow(const QString&) override {}
    Result next;
    QList<bool> requests; // whether each asked for an area
};

class FakeMicTranscriber final : public MicTranscriberInterface {
public:
    void requestAuthorization(std::function<void(const Availability&)> completion) override {
        if (completion)
            completion(availability);
    }
    void begin() override {
        ++begins;
        open = true;
    }
    void end() override {
        ++ends;
        open = false;
    }
    void stopTask(bool silent) override {
        stopTasks.append(silent);
        open = false;
    }
    void append(const float*, int frames, double) override { appendedFrames += frames; }
    bool hasOpenTask() const override { return open; }

    Availability availability = Availability::ready();
    bool open = false;
    int begins = 0;
    int ends = 0;
    QList<bool> stopTasks;
    std::atomic<long long> appendedFrames{0};
};

class FakeRecordingTranscriber final : public RecordingTranscriberInterface {
public:
    void transcribe(const QString& wavPath, std::function<void(double, double)> onProgress,
                    std::function<void(const Result&)> onDone) override {
        path = wavPath;
        progress = std::move(onProgress);
        completion = std::move(onDone);
    }
    QString path;
    std::function<void(double, double)> progress;
    std::function<void(const Result&)> completion;
};

class FakeAppListing final : public AppListing {
public:
    QList<AudioProcessInfo> selectableApps() override { return apps; }
    std::optional<uint32_t> audioObject(const QString& bundleID) override {
        ++lookups;
        return playing.contains(bundleID) ? std::optional<uint32_t>(playing.value(bundleID))
                                          : std::nullopt;
    }
    QList<AudioProcessInfo> apps;
    QMap<QString, uint32_t> playing;
    int lookups = 0;
};

class FakePermissions final : public Permissions {
public:
    Status microphoneStatus() override { return mic; }
    void requestMicrophone(std::function<void(bool)> completion) override {
        ++micRequests;
        pendingMicAnswer = std::move(completion);
    }
    bool screenCapturePreflight() override {
        ++screenPreflights;
        return screenAllowed;
    }
    bool requestScreenCapture() override {
        ++screenRequests;
        return screenGrantedOnRequest;
    }
    // Called off the GUI thread by the walkthrough.
    Report check() override {
        ++checks;
        std::lock_guard lock(reportMutex);
        return report;
    }
    void setReport(const Report& value) {
        std::lock_guard lock(reportMutex);
        report = value;
    }
    std::mutex reportMutex;
    Report report;
    std::atomic<int> checks{0};
    Status mic = Status::authorized;
    bool screenAllowed = true;
    bool screenGrantedOnRequest = false;
    int micRequests = 0;
    int screenPreflights = 0;
    int screenRequests = 0;
    std::function<void(bool)> pendingMicAnswer;
};

class FakeSleepInhibitor final : public SleepInhibitor {
public:
    std::unique_ptr<Token> begin(const QString& why) override;
    int active = 0;
    QString reason;
};

class FakeFileRevealer final : public FileRevealer {
public:
    void reveal(const QStringList& paths) override { revealed.append(paths); }
    void open(const QString& path) override { opened.append(path); }
    QList<QStringList> revealed;
    QStringList opened;
};
