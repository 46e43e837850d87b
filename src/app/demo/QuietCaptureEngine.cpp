#include "app/demo/QuietCaptureEngine.h"

#include "audio/ArchiveWriter.h"
#include "base/Clock.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int kLevelIntervalMs = 50; // 20 a second, as the real engine reports
}

QuietCaptureEngine::QuietCaptureEngine(QObject* parent) : QObject(parent) {
    m_timer.setInterval(kLevelIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &QuietCaptureEngine::tick);
}

QuietCaptureEngine::~QuietCaptureEngine() = default;

std::optional<AudioFailure> QuietCaptureEngine::start(const Source& source, StreamSource,
                                                      bool record, const QString& archivePath) {
    // Called on a pool thread: the meters' timer belongs to the main thread.
    m_recordingPath.clear();
    if (record) {
        auto opened = ArchiveWriter::open(archivePath, ArchiveWriter::archiveRate);
        if (const auto* failure = std::get_if<AudioFailure>(&opened))
            return *failure;
        m_archive = std::move(std::get<std::unique_ptr<ArchiveWriter>>(opened));
        m_recordingPath = archivePath;
        m_recordedFrames = 0;
    }
    m_running = true;
    const auto* tap = std::get_if<SystemTap>(&source);
    const bool wholeOutput = tap && tap->target.isSystemOutput();
    QMetaObject::invokeMethod(
        this,
        [this, wholeOutput] {
            if (!m_running)
                return;
            // The name a laptop's own output has on most Linux desktops.
            if (wholeOutput && onHeardOutput)
                onHeardOutput(QStringLiteral("Built-in Audio Analog Stereo"));
            m_startedAt = systemClock().now();
            m_meetingUntil = m_micUntil = -1;
            m_timer.start();
        },
        Qt::QueuedConnection);
    return std::nullopt;
}

void QuietCaptureEngine::stop() {
    m_running = false;
    m_timer.stop();
    if (m_archive) {
        recordUntil(elapsed().value_or(0));
        m_archive->close();
        m_archive.reset();
    }
}

void QuietCaptureEngine::meetingSpeaks(double seconds) {
    if (const auto t = elapsed())
        m_meetingUntil = *t + seconds;
}

void QuietCaptureEngine::micSpeaks(double seconds) {
    if (const auto t = elapsed())
        m_micUntil = *t + seconds;
}

std::optional<double> QuietCaptureEngine::elapsed() const {
    if (!m_startedAt)
        return std::nullopt;
    return systemClock().now() - *m_startedAt;
}

float QuietCaptureEngine::level(double t, bool speaking, double phase) {
    // Two slow waves that never line up, so the meter looks alive without any randomness.
    const double wave = 0.5 + 0.3 * std::sin(7.3 * t + phase) + 0.2 * std::sin(2.1 * t + phase);
    if (speaking)
        return float(0.12 + 0.18 * wave); // well above the voice threshold
    return float(0.004 + 0.012 * wave);   // room noise, below it
}

void QuietCaptureEngine::tick() {
    const double t = elapsed().value_or(0);
    if (m_archive)
        recordUntil(t);
    if (onLevels)
        onLevels(level(t, t < m_micUntil, 1.3), level(t, t < m_meetingUntil, 0.0));
}

void QuietCaptureEngine::recordUntil(double t) {
    constexpr double rate = ArchiveWriter::archiveRate;
    // Noise from a fixed seed, under each side's level: the same recording every run.
    const auto noise = [this] {
        m_noise = m_noise * 1664525u + 1013904223u;
        return float(m_noise >> 8) / float(1 << 23) - 1.0f;
    };
    const auto until = static_cast<int64_t>(t * rate);
    while (m_recordedFrames < until) {
        const int64_t frames = std::min<int64_t>(until - m_recordedFrames, 4800);
        m_mic.resize(size_t(frames));
        m_meeting.resize(size_t(frames));
        for (int64_t i = 0; i < frames; ++i) {
            const double at = double(m_recordedFrames + i) / rate;
            m_mic[size_t(i)] = noise() * level(at, at < m_micUntil, 1.3);
            m_meeting[size_t(i)] = noise() * level(at, at < m_meetingUntil, 0.0);
        }
        m_archive->push(m_mic.data(), m_meeting.data(), frames);
        m_recordedFrames += frames;
    }
}
