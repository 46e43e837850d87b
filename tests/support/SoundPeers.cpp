#include "support/SoundPeers.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>

PrivateSoundServer::PrivateSoundServer()
    : m_dir(QDir::tempPath() + QStringLiteral("/pulse-XXXXXX")) {}

PrivateSoundServer::~PrivateSoundServer() {
    stop();
}

bool PrivateSoundServer::start() {
    return QProcess::execute(QStringLiteral(PULSE_TEST_DAEMON),
                             {QStringLiteral("start"), m_dir.path()}) == 0;
}

bool PrivateSoundServer::stop() {
    return QProcess::execute(QStringLiteral(PULSE_TEST_DAEMON),
                             {QStringLiteral("stop"), m_dir.path()}) == 0;
}

QString PrivateSoundServer::server() const {
    return QStringLiteral("unix:") + m_dir.path() + QStringLiteral("/run/native");
}

pid_t PrivateSoundServer::pid() const {
    QFile file(m_dir.filePath(QStringLiteral("pulse.pid")));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
}

void PrivateSoundServer::useForThisProcess() const {
    const QString d = m_dir.path();
    qputenv("PULSE_SERVER", server().toUtf8());
    qputenv("PULSE_RUNTIME_PATH", (d + QStringLiteral("/run")).toUtf8());
    qputenv("PULSE_STATE_PATH", (d + QStringLiteral("/state")).toUtf8());
    qputenv("PULSE_COOKIE", (d + QStringLiteral("/state/cookie")).toUtf8());
    qputenv("PULSE_CLIENTCONFIG", (d + QStringLiteral("/client.conf")).toUtf8());
}

bool PrivateSoundServer::pactl(const QStringList& arguments) const {
    return pactlOutput(arguments).has_value();
}

QString PrivateSoundServer::listedField(const QString& kind, uint32_t index) const {
    const QString list =
        pactlOutput({QStringLiteral("list"), QStringLiteral("short"), kind}).value_or(QString());
    for (const QString& line : list.split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(u'\t');
        if (fields.size() > 1 && fields[0] == QString::number(index))
            return fields[1];
    }
    return {};
}

bool PrivateSoundServer::moveSinkInput(uint32_t index, const QString& sink) const {
    const auto there = [&] {
        const QString current = listedField(QStringLiteral("sink-inputs"), index);
        return !current.isEmpty() && listedField(QStringLiteral("sinks"), current.toUInt()) == sink;
    };
    // PipeWire's PulseAudio layer now and then accepts a move and never carries it out
    // (8 of 60 moves back and forth, measured here); asking again is what a user would do.
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (!pactl({QStringLiteral("move-sink-input"), QString::number(index), sink}))
            return false;
        if (waitUntil(there, 1000))
            return true;
    }
    return false;
}

std::optional<QString> PrivateSoundServer::pactlOutput(const QStringList& arguments) const {
    QProcess process;
    process.setProgram(QStringLiteral("pactl"));
    process.setArguments(QStringList{QStringLiteral("--server=") + server()} + arguments);
    process.start();
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

SoundPeer::SoundPeer(const QString& program, const QStringList& arguments) {
    m_process.setProgram(program);
    m_process.setArguments(arguments);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start();
    m_process.waitForStarted(5000);
}

SoundPeer::~SoundPeer() {
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool SoundPeer::finished(int timeoutMs) {
    // The event loop keeps turning meanwhile: the session under test lives on this thread.
    return waitUntil([this] { return m_process.state() == QProcess::NotRunning; }, timeoutMs);
}

int32_t SoundPeer::pid() const {
    return static_cast<int32_t>(m_process.processId());
}

std::unique_ptr<SoundPeer> playOn(const QString& device, const QString& file,
                                  const QStringList& extra) {
    return std::make_unique<SoundPeer>(QStringLiteral("paplay"),
                                       QStringList{QStringLiteral("--device=") + device} + extra +
                                           QStringList{file});
}

namespace {
bool runSox(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("sox"), arguments) == 0;
}
QString num(double value) {
    return QString::number(value, 'g', 10);
}
} // namespace

QString makeTone(const QString& dir, const QString& name, double seconds, double frequency,
                 double volume, int channels) {
    const QString path = dir + u'/' + name;
    const bool ok =
        runSox({QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("48000"),
                QStringLiteral("-c"), QString::number(channels), QStringLiteral("-b"),
                QStringLiteral("16"), path, QStringLiteral("synth"), num(seconds),
                QStringLiteral("sine"), num(frequency), QStringLiteral("vol"), num(volume)});
    return ok ? path : QString();
}

QString makeToneBurst(const QString& dir, const QString& name, double leadSeconds,
                      double toneSeconds, double tailSeconds, double frequency) {
    const QString path = dir + u'/' + name;
    const bool ok =
        runSox({QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("48000"),
                QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-b"),
                QStringLiteral("16"), path, QStringLiteral("synth"), num(toneSeconds),
                QStringLiteral("sine"), num(frequency), QStringLiteral("vol"),
                QStringLiteral("0.5"), QStringLiteral("pad"), num(leadSeconds), num(tailSeconds)});
    return ok ? path : QString();
}

QString makeQuad(const QString& dir, const QString& name, double seconds,
                 const std::array<double, 4>& f) {
    const QString path = dir + u'/' + name;
    const bool ok = runSox({QStringLiteral("-n"),    QStringLiteral("-r"),
                            QStringLiteral("48000"), QStringLiteral("-c"),
                            QStringLiteral("4"),     QStringLiteral("-b"),
                            QStringLiteral("16"),    path,
                            QStringLiteral("synth"), num(seconds),
                            QStringLiteral("sine"),  num(f[0]),
                            QStringLiteral("sine"),  num(f[1]),
                            QStringLiteral("sine"),  num(f[2]),
                            QStringLiteral("sine"),  num(f[3]),
                            QStringLiteral("vol"),   QStringLiteral("0.5")});
    return ok ? path : QString();
}

QString makeSpeech(const QString& dir, const QString& name, const QString& text,
                   double leadSeconds) {
    const QString raw = dir + QStringLiteral("/raw-") + name;
    const QString path = dir + u'/' + name;
    if (QProcess::execute(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), raw, text}) != 0)
        return {};
    const bool ok =
        runSox({raw, QStringLiteral("-r"), QStringLiteral("48000"), QStringLiteral("-c"),
                QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), path,
                QStringLiteral("pad"), num(leadSeconds), QStringLiteral("0.5")});
    return ok ? path : QString();
}

QString makeFliteSpeech(const QString& dir, const QString& name, const QString& voice,
                        const QString& text, double leadSeconds, double tailSeconds) {
    const QString raw = dir + QStringLiteral("/raw-") + name;
    const QString path = dir + u'/' + name;
    if (QProcess::execute(QStringLiteral("flite"),
                          {QStringLiteral("-voice"), voice, QStringLiteral("-t"), text,
                           QStringLiteral("-o"), raw}) != 0)
        return {};
    const bool ok =
        runSox({raw, QStringLiteral("-r"), QStringLiteral("48000"), QStringLiteral("-c"),
                QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), path,
                QStringLiteral("pad"), num(leadSeconds), num(tailSeconds)});
    return ok ? path : QString();
}

double toneAmplitude(const float* samples, size_t count, double rate, double frequency) {
    if (count == 0)
        return 0;
    const double w = 2.0 * M_PI * frequency / rate;
    const double coefficient = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < count; ++i) {
        const double s0 = samples[i] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(0.0, power)) / static_cast<double>(count);
}

double toneAmplitude(const std::vector<float>& samples, double rate, double frequency) {
    return toneAmplitude(samples.data(), samples.size(), rate, frequency);
}

double steadyToneAmplitude(const std::vector<float>& samples, double rate, double frequency) {
    const auto window = static_cast<size_t>(rate / 20);
    std::vector<double> levels;
    for (size_t at = 0; at + window <= samples.size(); at += window)
        levels.push_back(toneAmplitude(samples.data() + at, window, rate, frequency));
    if (levels.empty())
        return toneAmplitude(samples, rate, frequency);
    const auto middle = levels.begin() + static_cast<long>(levels.size() / 2);
    std::nth_element(levels.begin(), middle, levels.end());
    return *middle;
}

double rms(const float* samples, size_t count) {
    if (count == 0)
        return 0;
    double sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / static_cast<double>(count));
}

std::vector<float> pcm16ToFloat(const QByteArray& pcm16) {
    std::vector<float> out(static_cast<size_t>(pcm16.size() / 2));
    const auto* data = reinterpret_cast<const unsigned char*>(pcm16.constData());
    for (size_t i = 0; i < out.size(); ++i) {
        const auto value = static_cast<int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        out[i] = static_cast<float>(value) / 32768.0f;
    }
    return out;
}

WavContents readWav(const QString& path) {
    WavContents result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QByteArray bytes = file.readAll();
    // The header's sizes must describe the file exactly.
    if (bytes.size() < 44 || bytes.mid(0, 4) != "RIFF" || bytes.mid(8, 4) != "WAVE")
        return result;
    auto u32 = [&](int at) {
        return quint32(uchar(bytes[at])) | quint32(uchar(bytes[at + 1])) << 8 |
               quint32(uchar(bytes[at + 2])) << 16 | quint32(uchar(bytes[at + 3])) << 24;
    };
    if (u32(4) != quint32(bytes.size() - 8) || u32(40) != quint32(bytes.size() - 44))
        return result;
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    if (!sf)
        return result;
    std::vector<float> interleaved(static_cast<size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(sf, interleaved.data(), info.frames);
    sf_close(sf);
    result.sampleRate = info.samplerate;
    result.channels = info.channels;
    for (sf_count_t i = 0; i < read; ++i) {
        result.left.push_back(interleaved[static_cast<size_t>(i * info.channels)]);
        if (info.channels > 1)
            result.right.push_back(interleaved[static_cast<size_t>(i * info.channels + 1)]);
    }
    result.valid = read == info.frames;
    return result;
}

testing::AssertionResult separateChannels(const WavContents& wav, double leftHz, double rightHz) {
    // Half a second, before the last quarter: at Stop the meeting the microphone had not yet
    // taken ends the recording beside silence.
    constexpr long window = 24000, tail = 12000;
    if (!wav.valid || wav.channels != 2 || wav.left.size() < size_t(window + tail))
        return testing::AssertionFailure() << "no stereo recording of three quarters of a second";
    const std::vector<float> left(wav.left.end() - window - tail, wav.left.end() - tail);
    const std::vector<float> right(wav.right.end() - window - tail, wav.right.end() - tail);
    const double levels[4] = {
        steadyToneAmplitude(left, 48000, leftHz), toneAmplitude(left, 48000, rightHz),
        steadyToneAmplitude(right, 48000, rightHz), toneAmplitude(right, 48000, leftHz)};
    const bool ok = std::abs(levels[0] - 0.5) <= 0.05 && levels[1] < 0.01 &&
                    std::abs(levels[2] - 0.5) <= 0.05 && levels[3] < 0.01;
    if (ok)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "left: " << levels[0] << " own, " << levels[1] << " other; right: " << levels[2]
           << " own, " << levels[3] << " other";
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}
