#include "speech/RecordingTranscriber.h"

#include "audio/WholeFile.h"
#include "base/MainThreadInbox.h"
#include "speech/RecordingTranscript.h"
#include "speech/SpeechAvailability.h"
#include "speech/SpeechResampler.h"
#include "speech/WavSpan.h"

#include <QFileInfo>
#include <QThreadPool>

#include <cstdio>
#include <memory>
#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace {
class SoundFile {
public:
    explicit SoundFile(const QString& path) {
        m_file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &m_info);
        if (m_file && (m_info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV)
            readPastTheHeader(path);
    }
    ~SoundFile() {
        if (m_file)
            sf_close(m_file);
    }
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    SNDFILE* handle() const { return m_file; }
    const SF_INFO& info() const { return m_info; }

private:
    // A recording whose header fell behind its samples (its recorder crashed) is read whole,
    // as raw samples of the header's format from the first sample to the end of the file.
    void readPastTheHeader(const QString& path) {
        const std::optional<WavSpan::Span> span = WavSpan::uncountedData(path);
        if (!span)
            return;
        auto samples = std::make_unique<Window>();
        samples->file.setFileName(path);
        samples->start = span->start;
        samples->length = span->bytes;
        if (!samples->file.open(QIODevice::ReadOnly) || !samples->file.seek(span->start))
            return;
        SF_INFO raw{};
        raw.samplerate = m_info.samplerate;
        raw.channels = m_info.channels;
        raw.format = SF_FORMAT_RAW | (m_info.format & SF_FORMAT_SUBMASK) | SF_ENDIAN_LITTLE;
        SNDFILE* whole = sf_open_virtual(&Window::io, SFM_READ, &raw, samples.get());
        if (!whole)
            return;
        if (raw.frames <= m_info.frames) {
            sf_close(whole);
            return;
        }
        sf_close(m_file);
        m_file = whole;
        m_info = raw;
        m_window = std::move(samples);
    }

    // The samples of a file, seen by the sound file library as a file of their own (it will not
    // read raw samples from an offset of a real one).
    struct Window {
        QFile file;
        qint64 start = 0;
        qint64 length = 0;

        static Window& of(void* data) { return *static_cast<Window*>(data); }
        static inline SF_VIRTUAL_IO io{
            [](void* data) -> sf_count_t { return of(data).length; },
            [](sf_count_t offset, int whence, void* data) -> sf_count_t {
                Window& w = of(data);
                const qint64 base = whence == SEEK_SET   ? 0
                                    : whence == SEEK_CUR ? w.file.pos() - w.start
                                                         : w.length;
                return w.file.seek(w.start + base + offset) ? w.file.pos() - w.start : -1;
            },
            [](void* buffer, sf_count_t count, void* data) -> sf_count_t {
                return of(data).file.read(static_cast<char*>(buffer), count);
            },
            [](const void*, sf_count_t, void*) -> sf_count_t { return 0; },
            [](void* data) -> sf_count_t { return of(data).file.pos() - of(data).start; }};
    };

    SF_INFO m_info{};
    SNDFILE* m_file = nullptr;
    std::unique_ptr<Window> m_window; // outlives m_file, which reads through it
};

// Feed pieces of one second, so that the time limit is looked at often enough.
constexpr int kFeedSamples = SpeechEngine::sampleRate;
constexpr double kMinSampleRate = 4000;
constexpr double kMaxSampleRate = 768000;
} // namespace

RecordingTranscriber::RecordingTranscriber(std::shared_ptr<SpeechEngine> engine,
                                           const QString& locale)
    : RecordingTranscriber(std::move(engine), locale, Options{}) {}

RecordingTranscriber::RecordingTranscriber(std::shared_ptr<SpeechEngine> engine,
                                           const QString& locale, Options options)
    : m_engine(std::move(engine)), m_locale(locale), m_options(std::move(options)) {
    if (!m_options.clock)
        m_options.clock = &systemClock();
    if (!(m_options.chunkSeconds > 0))
        m_options.chunkSeconds = 45.0;
}

void RecordingTranscriber::transcribe(const QString& wavPath,
                                      std::function<void(double, double)> progress,
                                      std::function<void(const Result&)> completion) {
    // Carries every report to the main thread. The completion holds the inbox itself: were
    // the pool's task the last to let go of it, it would close before the completion ran.
    auto inbox = std::make_shared<MainThreadInbox>();
    auto self = std::make_shared<RecordingTranscriber>(m_engine, m_locale, m_options);
    QThreadPool::globalInstance()->start(
        [self, inbox, wavPath, progress = std::move(progress), completion = std::move(completion)] {
            auto report = [&inbox, &progress](double done, double total) {
                inbox->post([progress, done, total] {
                    if (progress)
                        progress(done, total);
                });
            };
            Result result = Failure{QStringLiteral("The recording couldn't be transcribed.")};
            try {
                result = self->run(wavPath, report);
            } catch (const std::exception& error) {
                // An exception must not leave the pool's thread; the caller hears of it instead.
                result = Failure{QStringLiteral("The recording couldn't be transcribed: ") +
                                 QString::fromUtf8(error.what())};
            }
            inbox->post([completion, result, inbox] {
                if (completion)
                    completion(result);
            });
        });
}

RecordingTranscriber::Result
RecordingTranscriber::run(const QString& wavPath,
                          const std::function<void(double, double)>& progress) const {
    const SoundFile file(wavPath);
    if (!file.handle())
        return Failure{QStringLiteral("The recording “") + QFileInfo(wavPath).fileName() +
                       QStringLiteral("” couldn't be opened: ") +
                       QString::fromUtf8(sf_strerror(nullptr))};
    const SF_INFO& info = file.info();
    const double rate = info.samplerate;
    const int channels = info.channels;
    const double duration = rate > 0 ? double(info.frames) / rate : 0.0;

    // A damaged header's rate would make chunks of absurd length (or absurd numbers of them).
    if (rate < kMinSampleRate || rate > kMaxSampleRate)
        return Failure{
            QStringLiteral("The recording “") + QFileInfo(wavPath).fileName() +
            QStringLiteral("” has an unsupported sample rate (%1 Hz).").arg(info.samplerate)};

    if (!m_engine || m_engine->modelFor(m_locale) != SpeechEngine::ModelState::installed)
        return Failure{speechUnavailableText(m_locale)};

    QStringList lines = RecordingTranscript::headerLines(QFileInfo(wavPath).fileName(), duration);

    const sf_count_t chunkFrames = sf_count_t(rate * m_options.chunkSeconds);
    std::unique_ptr<SpeechStream> stream;
    if (chunkFrames > 0 && channels > 0 && info.frames > 0) {
        SpeechEngine::Created created = m_engine->createStream(SpeechEngine::Mode::batch);
        if (!created.stream)
            return Failure{created.error};
        stream = std::move(created.stream);
    }

    std::vector<float> interleaved;
    std::vector<float> mono;
    int chunk = 0;
    sf_count_t position = 0;
    while (stream && position < info.frames) {
        // Sized by what the file still holds, not by its header's rate, so that a damaged
        // header can't ask for more memory than the file itself occupies.
        const sf_count_t wanted = std::min(chunkFrames, info.frames - position);
        try {
            interleaved.resize(size_t(wanted) * size_t(channels));
            mono.resize(size_t(wanted));
        } catch (const std::bad_alloc&) {
            break;
        }
        const sf_count_t got = sf_readf_float(file.handle(), interleaved.data(), wanted);
        if (got < 0 || (got == 0 && sf_error(file.handle()) != SF_ERR_NO_ERROR))
            return Failure{QStringLiteral("The recording couldn't be read: ") +
                           QString::fromUtf8(sf_strerror(file.handle()))};
        if (got == 0)
            break;
        position += got;

        QStringList contributions;
        for (int channel = 0; channel < std::min(channels, 2); ++channel) {
            mono.resize(size_t(got)); // never grows: got <= wanted
            for (sf_count_t i = 0; i < got; ++i)
                mono[size_t(i)] = interleaved[size_t(i) * size_t(channels) + size_t(channel)];
            const QString text = recognize(*stream, mono, rate);
            if (!text.isEmpty())
                contributions << RecordingTranscript::speakerLine(channel, text);
        }
        if (!contributions.isEmpty()) {
            lines << QStringLiteral("### ") +
                         RecordingTranscript::chunkStamp(chunk, m_options.chunkSeconds);
            lines << contributions;
            lines << QString();
        }
        ++chunk;
        if (progress)
            progress(std::min(chunk * m_options.chunkSeconds, duration), duration);
    }

    const QString target = RecordingTranscript::targetPath(wavPath);
    const QString error = WholeFile::write(target, lines.join(QLatin1Char('\n')).toUtf8());
    if (!error.isEmpty())
        return Failure{QStringLiteral("The transcript couldn't be written: ") + error};
    return target;
}

QString RecordingTranscriber::recognize(SpeechStream& stream, const std::vector<float>& mono,
                                        double sampleRate) const {
    std::vector<int16_t> samples;
    samples.reserve(size_t(double(mono.size()) * SpeechEngine::sampleRate / sampleRate) + 1024);
    SpeechResampler resampler(sampleRate, double(SpeechEngine::sampleRate));
    if (!resampler.isValid())
        return {};
    resampler.process(mono.data(), int(mono.size()), samples);
    resampler.flush(samples);

    if (stream.begin())
        return {};
    const double deadline = m_options.clock->now() + m_options.bufferLimitSeconds;
    for (size_t offset = 0; offset < samples.size(); offset += kFeedSamples) {
        if (m_options.clock->now() > deadline) {
            stream.cancel();
            return {};
        }
        const int count = int(std::min<size_t>(kFeedSamples, samples.size() - offset));
        stream.feed(samples.data() + offset, count);
    }
    const SpeechOutcome outcome = stream.finish();
    if (m_options.clock->now() > deadline)
        return {};
    return outcome.kind == SpeechOutcome::Kind::text ? outcome.text : QString();
}
