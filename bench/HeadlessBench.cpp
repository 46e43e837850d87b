// The terminal session's cost as a user runs it: the real `corvinel --headless`, the meeting and
// the microphone both streamed and the recording on, on a private sound server whose fake
// speakers and microphone play speech, against the strict fake Realtime service on 127.0.0.1,
// which hears a question every few seconds and streams its answer. Reported: the peak resident
// memory (VmHWM just before the stop) and the share of one core over the steady part (after
// the first seconds), beside their goals, with the resident memory's parts and each thread's
// share to tell where they go.
//
//   bench_headless                              one session of 30 s of audio
//   bench_headless --benchmark_repetitions=3    three, for the spread
//   CORVINEL=/usr/bin/corvinel bench_headless   another build of the program, e.g. a package's

#include "settings/AppSettings.h"
#include "support/FakeRealtimeServer.h"
#include "support/SoundPeers.h"
#include "support/StrictRealtimeService.h"
#include "support/TestHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kAudioSeconds = 30;   // played into both fake devices
constexpr int kWarmUpSeconds = 5;   // the start's work, left out of the CPU share
constexpr int kQuestionEvery = 8;   // seconds between the service's questions
constexpr double kRssGoalMB = 36;   // peak resident memory
constexpr double kCpuGoalPct = 0.7; // of one core

// Runs the event loop for `ms` (the fake service lives on this thread).
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QByteArray readProc(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A "Name:   123 kB" line of /proc/PID/status, in MB.
double statusMB(const QByteArray& status, const char* name) {
    for (const QByteArray& line : status.split('\n'))
        if (line.startsWith(name))
            return line.mid(qsizetype(strlen(name))).trimmed().split(' ').first().toDouble() /
                   1024.0;
    return 0;
}

// utime + stime of a /proc/…/stat line, in clock ticks.
long long cpuTicks(const QByteArray& stat) {
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : 0;
}

// Each thread's CPU ticks so far, by thread id, with its name.
struct ThreadTicks {
    QByteArray name;
    long long ticks;
};
QMap<QString, ThreadTicks> threadTicks(qint64 pid) {
    QMap<QString, ThreadTicks> threads;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray stat = readProc(tasks + u'/' + tid + QStringLiteral("/stat"));
        const qsizetype open = stat.indexOf('('), close = stat.lastIndexOf(')');
        if (open >= 0 && close > open)
            threads.insert(tid, {stat.mid(open + 1, close - open - 1), cpuTicks(stat)});
    }
    return threads;
}

// `seconds` of speech at 48 kHz mono: one espeak-ng paragraph, over and over.
QString longSpeech(const QString& dir, const QString& name, const QString& text, int seconds) {
    const QString once = makeSpeech(dir, QStringLiteral("once-") + name, text, 0.5);
    const QString path = dir + u'/' + name;
    if (once.isEmpty() || QProcess::execute(QStringLiteral("sox"),
                                            {once, path, QStringLiteral("repeat"),
                                             QString::number(seconds / 4), QStringLiteral("trim"),
                                             QStringLiteral("0"), QString::number(seconds)}) != 0)
        return {};
    return path;
}

struct Figures {
    double peakRssMB = 0, cpuPct = 0;
};
std::vector<Figures> g_runs;
QString g_threadReport;

void HeadlessBothRecording(benchmark::State& state) {
    QTemporaryDir files;
    const QString meeting = longSpeech(
        files.path(), QStringLiteral("meeting.wav"),
        QStringLiteral("Thanks for joining us today. Could you walk me through a project where "
                       "the requirements changed late, what you did about it, and what you "
                       "would do differently if you had to do it again?"),
        kAudioSeconds + 8);
    const QString mic = longSpeech(
        files.path(), QStringLiteral("mic.wav"),
        QStringLiteral("Sure. On the billing service we learned two weeks before launch that "
                       "invoices had to be split by region, so we moved the tax rules behind "
                       "one interface and shipped the old path beside the new one."),
        kAudioSeconds + 8);
    if (meeting.isEmpty() || mic.isEmpty()) {
        state.SkipWithError("espeak-ng or sox failed to make the speech");
        return;
    }

    for (auto _ : state) {
        TestHome home;
        PrivateSoundServer sound;
        if (!sound.start()) {
            state.SkipWithError("the private sound server did not start");
            return;
        }
        sound.useForThisProcess();
        FakeRealtimeServer server;
        StrictRealtimeService service(server);
        if (!server.listen()) {
            state.SkipWithError("the fake Realtime server did not listen");
            return;
        }
        home.setEnv("OV_REALTIME_URL", server.url().toString().toUtf8());
        home.setEnv("OPENAI_API_KEY", QByteArray("sk-bench"));
        {
            AppSettings settings(AppSettings::defaultPath());
            settings.setMeetingSource(AppSettings::MeetingSource::systemOutput);
            settings.setStreamSource(AppSettings::StreamSource::both);
            settings.setDeviceUID(QStringLiteral("fakemic"));
            settings.setSaveAudio(true);
        }

        QProcess corvinel;
        QByteArray out, err;
        QObject::connect(&corvinel, &QProcess::readyReadStandardOutput,
                         [&] { out += corvinel.readAllStandardOutput(); });
        QObject::connect(&corvinel, &QProcess::readyReadStandardError,
                         [&] { err += corvinel.readAllStandardError(); });
        corvinel.start(qEnvironmentVariable("CORVINEL", QStringLiteral(CORVINEL_BINARY)),
                       {QStringLiteral("--headless")});
        const qint64 pid = corvinel.processId();
        const auto streamedBytes = [&] {
            qsizetype bytes = 0;
            for (const QJsonObject& frame :
                 server.frames(QStringLiteral("input_audio_buffer.append")))
                bytes += frame.value(QStringLiteral("audio")).toString().size() * 3 / 4;
            return bytes;
        };
        if (!server.waitForFrames(QStringLiteral("session.update"), 1, 15000) ||
            !waitUntil([&] { return streamedBytes() > 0; }, 10000)) {
            state.SkipWithError(("the session did not start: " + err).constData());
            return;
        }
        const qsizetype streamedBefore = streamedBytes();
        const auto meetingPlayer = playOn(QStringLiteral("speakers"), meeting);
        const auto micPlayer = playOn(QStringLiteral("mic_feed"), mic);

        QElapsedTimer clock;
        clock.start();
        long long ticksBefore = 0;
        QMap<QString, ThreadTicks> threadsBefore;
        double cpuFrom = 0;
        int deltasLeft = 0;
        int nextQuestion = 2;
        // A question every few seconds, its answer streamed as 25 deltas over a second.
        while (clock.elapsed() < kAudioSeconds * 1000) {
            if (ticksBefore == 0 && clock.elapsed() >= kWarmUpSeconds * 1000) {
                cpuFrom = double(clock.nsecsElapsed()) / 1e9;
                ticksBefore = cpuTicks(readProc(QStringLiteral("/proc/%1/stat").arg(pid)));
                threadsBefore = threadTicks(pid);
            }
            if (deltasLeft == 0 && clock.elapsed() >= nextQuestion * 1000) {
                service.transcribe(service.commitTurn(),
                                   QStringLiteral("Walk me through a late change."));
                deltasLeft = 25;
                nextQuestion += kQuestionEvery;
            }
            if (deltasLeft > 0) {
                service.stream(QStringLiteral("We split the work "));
                if (--deltasLeft == 0)
                    service.finish();
            }
            runFor(40);
        }
        const double cpuTo = double(clock.nsecsElapsed()) / 1e9;
        const long long ticksAfter = cpuTicks(readProc(QStringLiteral("/proc/%1/stat").arg(pid)));
        const QMap<QString, ThreadTicks> threadsAfter = threadTicks(pid);
        const QByteArray status = readProc(QStringLiteral("/proc/%1/status").arg(pid));
        const double streamedSeconds = double(streamedBytes() - streamedBefore) / 2 / 24000;

        ::kill(pid_t(pid), SIGINT);
        if (!waitUntil([&] { return corvinel.state() == QProcess::NotRunning; }, 30000) ||
            corvinel.exitStatus() != QProcess::NormalExit || corvinel.exitCode() != 0) {
            state.SkipWithError(("the session did not stop cleanly: " + err).constData());
            return;
        }
        // A session that streamed or answered less than it heard is measured doing less.
        if (streamedSeconds < kAudioSeconds * 0.9 || !out.contains("A: We split the work")) {
            state.SkipWithError(QStringLiteral("%1 s streamed of %2 s played, cards: %3")
                                    .arg(streamedSeconds, 0, 'f', 1)
                                    .arg(kAudioSeconds)
                                    .arg(QString::fromUtf8(out))
                                    .toUtf8()
                                    .constData());
            return;
        }

        const double tick = double(sysconf(_SC_CLK_TCK));
        const double window = cpuTo - cpuFrom;
        Figures figures;
        figures.peakRssMB = statusMB(status, "VmHWM:");
        figures.cpuPct = 100.0 * double(ticksAfter - ticksBefore) / tick / window;
        g_runs.push_back(figures);
        state.SetIterationTime(cpuTo);
        state.counters["peak_rss_MB"] = figures.peakRssMB;
        state.counters["cpu_pct"] = figures.cpuPct;
        state.counters["threads"] = double(threadsAfter.size());

        // Where they go, for the last run.
        g_threadReport = QStringLiteral("  resident at the stop: %1 MB anonymous, %2 MB files, "
                                        "%3 threads\n  CPU by thread (% of one core):")
                             .arg(statusMB(status, "RssAnon:"), 0, 'f', 1)
                             .arg(statusMB(status, "RssFile:"), 0, 'f', 1)
                             .arg(threadsAfter.size());
        QMap<QByteArray, double> byName;
        for (auto it = threadsAfter.begin(); it != threadsAfter.end(); ++it)
            byName[it.key() == QString::number(pid) ? QByteArrayLiteral("main") : it->name] +=
                100.0 * double(it->ticks - threadsBefore.value(it.key(), {{}, 0}).ticks) / tick /
                window;
        for (auto it = byName.begin(); it != byName.end(); ++it)
            g_threadReport += QStringLiteral(" %1 %2")
                                  .arg(QString::fromUtf8(it.key()))
                                  .arg(it.value(), 0, 'f', 2);
    }
}
BENCHMARK(HeadlessBothRecording)->Unit(benchmark::kSecond)->UseManualTime()->Iterations(1);

// "peak RSS 33.1 MB (goal ≤ 36 MB)", with several runs their median, then their range.
void printFigure(const char* name, std::vector<double> values, const char* unit, const char* of,
                 int decimals, double goal) {
    std::sort(values.begin(), values.end());
    printf("  %s %.*f %s%s (goal ≤ %g %s", name, decimals, values[values.size() / 2], unit, of,
           goal, unit);
    if (values.size() > 1)
        printf("; %.*f–%.*f over %zu runs", decimals, values.front(), decimals, values.back(),
               values.size());
    printf(")\n");
}

} // namespace

int main(int argc, char** argv) {
    // The program and this one in a home of their own: no setting, key or session of the user's.
    std::string root = (QDir::tempPath() + QStringLiteral("/corvinel-bench-XXXXXX")).toStdString();
    if (!::mkdtemp(root.data()))
        return 1;
    redirectHome(QByteArray::fromStdString(root));
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QDir(QString::fromStdString(root)).removeRecursively();
    if (g_runs.empty())
        return 1;

    std::vector<double> rss, cpu;
    for (const Figures& run : g_runs) {
        rss.push_back(run.peakRssMB);
        cpu.push_back(run.cpuPct);
    }
    printf("\ncorvinel --headless, both streamed, recording on, %d s of speech:\n", kAudioSeconds);
    printFigure("peak RSS", rss, "MB", "", 1, kRssGoalMB);
    printFigure("CPU", cpu, "%", " of one core", 2, kCpuGoalPct);
    printf("%s\n", qPrintable(g_threadReport));
    return 0;
}
