#include "audio/MicLevelProbe.h"

#include "audio/CaptureFaults.h"

#include "audio/CaptureChecks.h"
#include "audio/pulse/PulseRecorder.h"
#include "base/MainThreadInbox.h"

#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

// One recording, shared by the probe and the pool tasks that open and close it, so that it
// outlives whichever of them goes first.
struct MicLevelProbe::Run {
    Run(const QString& server, MicLevelProbe* probe)
        : owner(probe), recorder(QStringLiteral("Corvinel microphone level"), server) {}

    // The probe closes it when it stops this run: what the run posts after that never reaches
    // the probe, which may be gone or on another run.
    MainThreadInbox inbox;
    MicLevelProbe* const owner;
    PulseRecorder recorder; // after the inbox: it stops, and its thread ends, first
    // The block peak since the last report; negative when nothing arrived.
    std::atomic<float> peak{-1.0f};
    std::atomic<bool> failurePosted{false};
    // Opening and closing the recorder never overlap.
    std::mutex lifecycle;
};

MicLevelProbe::MicLevelProbe(QString server, QObject* parent)
    : QObject(parent), m_server(std::move(server)) {}

MicLevelProbe::~MicLevelProbe() {
    stop();
}

void MicLevelProbe::start(const QString& uid) {
    stop();
    auto run = std::make_shared<Run>(m_server, this);
    m_run = run;
    m_timer = systemClock().schedule(intervalMs / 1000.0, true, [this] { report(); });
    Run* raw = run.get();
    run->recorder.onBlock = [raw](const FloatAudioBuffer& block) {
        float peak = 0;
        for (int c = 0; c < block.channelCount; ++c)
            for (int64_t i = 0; i < block.frameLength; ++i)
                peak = std::max(peak, std::fabs(block.channelData[c][i]));
        float held = raw->peak.load(std::memory_order_relaxed);
        while (peak > held && !raw->peak.compare_exchange_weak(held, peak)) {
        }
    };
    // Runs on the recorder's thread.
    run->recorder.onFailure = [raw](const StreamFault& fault) {
        // The meter has no session to restart: the loss alone is said.
        postFailure(
            *raw,
            fault.kind == StreamFault::Kind::connectionLost
                ? QStringLiteral("The connection to the sound server was lost: %1.")
                      .arg(fault.reason)
                : CaptureFaults::describe(CaptureFaults::Stream::microphone, fault).description);
    };
    const QString server = m_server;
    QThreadPool::globalInstance()->start([run, uid, server] {
        const std::lock_guard<std::mutex> guard(run->lifecycle);
        if (!run->inbox.isOpen())
            return;
        QString name = uid;
        if (name.isEmpty()) {
            const auto device = defaultMicrophone(server);
            if (!device)
                return postFailure(*run, QStringLiteral("No microphone was found."));
            name = device->uid;
        }
        PulseRecorder::Source source;
        source.kind = PulseRecorder::Source::Kind::device;
        source.name = name;
        // 20 ms blocks at 48 kHz: smooth enough for a meter.
        const PulseRecorder::Result result = run->recorder.start(source, 960);
        if (const auto* failure = std::get_if<PulseRecorder::Failure>(&result))
            return postFailure(
                *run, QStringLiteral("Could not open the microphone: %1.").arg(failure->message));
        if (!run->inbox.isOpen())
            run->recorder.stop();
    });
}

void MicLevelProbe::stop() {
    m_timer.reset();
    if (!m_run)
        return;
    std::shared_ptr<Run> run = std::move(m_run);
    run->inbox.close();
    // Closing waits for the server's thread to end: never on the GUI thread.
    QThreadPool::globalInstance()->start([run] {
        const std::lock_guard<std::mutex> guard(run->lifecycle);
        run->recorder.stop();
    });
}

void MicLevelProbe::report() {
    if (!m_run)
        return;
    const float peak = m_run->peak.exchange(-1.0f);
    if (peak >= 0)
        emit levelChanged(std::min(peak, 1.0f));
}

void MicLevelProbe::postFailure(Run& run, const QString& message) {
    if (run.failurePosted.exchange(true))
        return;
    run.inbox.post([probe = run.owner, message] {
        probe->stop();
        emit probe->failed(message);
    });
}
