#pragma once

#include "support/FakeRealtimeServer.h"
#include "support/SoundPeers.h"
#include "support/StrictRealtimeService.h"
#include "support/TestFiles.h"
#include "support/TestHome.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QStandardPaths>
#include <gtest/gtest.h>

// A private sound server, the fake Realtime endpoint and a fresh home for one test.
class LiveTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sound.start());
        m_sound.useForThisProcess();
        ASSERT_TRUE(m_server.listen());
        m_home.setEnv("OV_REALTIME_URL", m_server.url().toString().toUtf8());
        m_home.setEnv("OPENAI_API_KEY", QByteArray("sk-test-live"));
    }

    // Everything the client has streamed so far, as 24 kHz samples.
    std::vector<float> streamed() const {
        QByteArray all;
        for (const QJsonObject& frame :
             m_server.frames(QStringLiteral("input_audio_buffer.append")))
            all +=
                QByteArray::fromBase64(frame.value(QStringLiteral("audio")).toString().toLatin1());
        return pcm16ToFloat(all);
    }
    size_t streamedSamples() const { return streamed().size(); }
    // The stream from sample `from` on.
    std::vector<float> streamedSince(size_t from) const {
        const auto all = streamed();
        return {all.begin() + long(std::min(from, all.size())), all.end()};
    }
    // Waits until the stream's last 0.2 s carries the tone.
    bool hears(double frequency) const {
        return waitUntil([&] {
            const auto all = streamed();
            const std::vector<float> recent(all.end() - long(std::min<size_t>(all.size(), 4800)),
                                            all.end());
            return toneAmplitude(recent, 24000, frequency) > 0.2;
        });
    }
    // Waits until `seconds` more audio has been streamed.
    bool streamFor(double seconds, int timeoutMs = 10000) const {
        const size_t from = streamedSamples();
        return waitUntil([&] { return streamedSamples() >= from + size_t(seconds * 24000); },
                         timeoutMs);
    }

    // The other side asks, and the service hears the question and answers it.
    void answer(const QString& question, const QStringList& deltas) {
        const QString item = m_service.commitTurn();
        m_service.transcribe(item, question);
        for (const QString& delta : deltas)
            m_service.stream(delta);
        m_service.finish(StrictRealtimeService::usageOf(300, 0, 120, 0, 40));
    }

    QString sessionFolder() const {
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
               QStringLiteral("/Corvinel");
    }
    QString sessionFile(const QString& suffix) const {
        const QStringList found =
            QDir(sessionFolder()).entryList({QStringLiteral("meeting_*") + suffix}, QDir::Files);
        return found.size() == 1 ? sessionFolder() + u'/' + found.first() : QString();
    }

    TestHome m_home;
    PrivateSoundServer m_sound;
    FakeRealtimeServer m_server;
    StrictRealtimeService m_service{m_server};
    QTemporaryDir m_files;
};

// 20 ms windows whose level is above `threshold`: the first and last, in seconds.
struct ActiveSpan {
    double start = -1;
    double end = -1;
    double length() const { return end - start; }
};
inline ActiveSpan activeSpan(const std::vector<float>& samples, double rate,
                             double threshold = 0.01) {
    ActiveSpan span;
    const auto window = size_t(rate * 0.02);
    for (size_t i = 0; i + window <= samples.size(); i += window) {
        if (rms(samples.data() + i, window) > threshold) {
            if (span.start < 0)
                span.start = double(i) / rate;
            span.end = double(i + window) / rate;
        }
    }
    return span;
}
