#include "audio/MicLevelProbe.h"

#include "audio/CaptureFaults.h"

#include "audio/CaptureChecks.h"
#include "audio/pulse/PulseRecorder.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

// One recording, shared by the probe and the pool tasks that open and close it, so that it
// outlives whichever of them goes first.
struct MicLevelProbe::Run {
    Run(const QString& server, QPointer<MicLevelProbe> probe)
        : recorder(QStringLiteral("Corvinel microphone level"), server), owner(std::move(probe)) {}

    PulseRecorder recorder;
    QPointer<MicLevelProbe> owner; // read on the probe's thread only
    // The block peak since the last report; negative when nothing arrived.
    std::atomic<float> peak{-1.0f};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> failurePosted{false};
    // Opening and closing the recorder never overlap.
    std::mutex lifecycle;
};

MicLevelProbe::MicLevelProbe(QString server, QObject* parent)
    : QObject(parent), m_server(std::move(server)) {
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &MicLevelProbe::report);
}

MicLevelProbe::~MicLevelProbe() {
    stop();
}

void MicLevelProbe::start(const QString& uid) {
    stop();
    auto run = std::make_shared<Run>(m_server, QPointer<MicLevelProbe>(this));
    m_run = run;
    m_timer.start();
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
    // Runs on the recorder's thread: one queued call per run. Only copies of the weak
    // reference travel, so the run is never released on that thread.
    run->recorder.onFailure = [raw, weak = std::weak_ptr<Run>(run)](const StreamFault& fault) {
        // The meter has no session to restart: the loss alone is said.
        const QString message =
            fault.kind == StreamFault::Kind::connectionLost
                ? QStringLiteral("The connection to the sound server was lost: %1.")
                      .arg(fault.reason)
                : CaptureFaults::describe(CaptureFaults::Stream::microphone, fault).description;
        QCoreApplication* app = QCoreApplication::instance();
        if (raw->cancelled.load() || !app || raw->failurePosted.exchange(true))
            return;
        QMetaObject::invokeMethod(
            app,
            [weak, owner = raw->owner, message] {
                const std::shared_ptr<Run> current = weak.lock();
                if (owner && current)
                    owner->fail(current, message);
            },
            Qt::QueuedConnection);
    };
    const QString server = m_server;
    QThreadPool::globalInstance()->start([run, uid, server] {
        const std::lock_guard<std::mutex> guard(run->lifecycle);
        if (run->cancelled.load())
            return;
        QString name = uid;
        if (name.isEmpty()) {
            const auto device = defaultMicrophone(server);
            if (!device)
                return postFailure(run, QStringLiteral("No microphone was found."));
            name = device->uid;
        }
        PulseRecorder::Source source;
        source.kind = PulseRecorder::Source::Kind::device;
        source.name = name;
        // 20 ms blocks at 48 kHz: smooth enough for a meter.
        const PulseRecorder::Result result = run->recorder.start(source, 960);
        if (const auto* failure = std::get_if<PulseRecorder::Failure>(&result))
            return postFailure(
                run, QStringLiteral("Could not open the microphone: %1.").arg(failure->message));
        if (run->cancelled.load())
            run->recorder.stop();
    });
}

void MicLevelProbe::stop() {
    m_timer.stop();
    if (!m_run)
        return;
    std::shared_ptr<Run> run = std::move(m_run);
    run->cancelled = true;
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

void MicLevelProbe::fail(const std::shared_ptr<Run>& run, const QString& message) {
    if (m_run != run)
        return;
    stop();
    emit failed(message);
}

void MicLevelProbe::postFailure(const std::weak_ptr<Run>& weak, const QString& message) {
    const std::shared_ptr<Run> run = weak.lock();
    QCoreApplication* app = QCoreApplication::instance();
    if (!run || run->cancelled.load() || !app || run->failurePosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        app,
        [weak, owner = run->owner, message] {
            const std::shared_ptr<Run> current = weak.lock();
            if (owner && current)
                owner->fail(current, message);
        },
        Qt::QueuedConnection);
}
