#include "app/demo/QuietCaptureEngine.h"

#include "base/Clock.h"

#include <cmath>

namespace {
constexpr int kLevelIntervalMs = 50; // 20 a second, as the real engine reports
}

QuietCaptureEngine::QuietCaptureEngine(QObject* parent) : QObject(parent) {
    m_timer.setInterval(kLevelIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &QuietCaptureEngine::tick);
}

QuietCaptureEngine::~QuietCaptureEngine() = default;

std::optional<AudioFailure> QuietCaptureEngine::start(const Source& source, StreamSource, bool,
                                                      const QString&) {
    // Called on a pool thread: the meters' timer belongs to the main thread.
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
    if (!onLevels)
        return;
    const double t = elapsed().value_or(0);
    onLevels(level(t, t < m_micUntil, 1.3), level(t, t < m_meetingUntil, 0.0));
}
