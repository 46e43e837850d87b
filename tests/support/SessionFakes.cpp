#include "support/SessionFakes.h"

std::optional<AudioFailure> FakeCaptureEngine::start(const Source& source,
                                                     StreamSource streamSource, bool record,
                                                     const QString& archivePath) {
    ++startCalls;
    {
        std::unique_lock lock(m_mutex);
        lastSource = source;
        lastStreamSource = streamSource;
        lastRecord = record;
        lastArchivePath = archivePath;
        if (blockStart)
            m_released.wait(lock, [this] { return m_isReleased; });
        if (startFailure)
            return startFailure;
        m_recordingPath = record ? archivePath : QString();
    }
    running = true;
    return std::nullopt;
}

void FakeCaptureEngine::release() {
    std::lock_guard lock(m_mutex);
    m_isReleased = true;
    m_released.notify_all();
}

void FakeCaptureEngine::stop() {
    ++stopCalls;
    running = false;
}

std::optional<AudioFailure> FakeCaptureEngine::retarget(const TapTarget& meeting) {
    retargets.append(meeting);
    return retargetFailure;
}

AudioCaptureEngineInterface::StreamSource FakeCaptureEngine::streamSource() const {
    if (streamed)
        return *streamed;
    const StreamSource asked = lastStreamSource.value_or(StreamSource::meetingOnly);
    const auto* device = lastSource ? std::get_if<DeviceChannels>(&*lastSource) : nullptr;
    if (device && !device->meetingChannel && asked == StreamSource::meetingOnly)
        return StreamSource::micOnly;
    return asked;
}

QString FakeCaptureEngine::recordingPath() const {
    std::lock_guard lock(m_mutex);
    return m_recordingPath;
}

namespace {
class CountingToken final : public SleepInhibitor::Token {
public:
    explicit CountingToken(int& active) : m_active(active) { ++m_active; }
    ~CountingToken() override { --m_active; }

private:
    int& m_active;
};
} // namespace

std::unique_ptr<SleepInhibitor::Token> FakeSleepInhibitor::begin(const QString& why) {
    reason = why;
    return std::make_unique<CountingToken>(active);
}
