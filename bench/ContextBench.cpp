// Costs of the context path: cleaning a document, counting the prompt for the editor's
// counts line on every keystroke, and reading RTF and PDF files.
#include "context/ContextLoader.h"
#include "context/RtfReader.h"
#include "settings/Graphemes.h"

#include <QFile>
#include <benchmark/benchmark.h>

namespace {

QString sampleText(qsizetype size) {
    const QString line = QStringLiteral("Led \t the migration of a 40-system estate, caf\u00E9 "
                                        "\U0001F44D\U0001F3FD on time.\r\n\r\n\r\n");
    QString text;
    while (text.size() < size)
        text += line;
    text.truncate(size);
    return text;
}

QByteArray dataFile(const char* name) {
    QFile file(QStringLiteral(CONTEXT_DATA "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

static void BM_Clean(benchmark::State& state) {
    const QString text = sampleText(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(ContextLoader::clean(text, ContextLoader::kCharacterLimit));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Clean)->Arg(30000)->Arg(300000)->Unit(benchmark::kMicrosecond);

static void BM_CountGraphemes(benchmark::State& state) {
    const QString text = sampleText(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(Graphemes::count(text));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CountGraphemes)->Arg(8000)->Arg(100000)->Unit(benchmark::kMicrosecond);

static void BM_ReadRtf(benchmark::State& state) {
    // The peer-written résumé's body repeated to about 1 MB.
    const QByteArray sample = dataFile("resume-abiword.rtf");
    const qsizetype bodyStart = sample.indexOf("\\sectd");
    QByteArray rtf = sample.left(bodyStart);
    const QByteArray body = sample.mid(bodyStart, sample.lastIndexOf('}') - bodyStart);
    while (rtf.size() < 1'000'000)
        rtf += body;
    rtf += '}';
    for (auto _ : state)
        benchmark::DoNotOptimize(readRtfText(std::string_view(rtf.constData(), rtf.size())));
    state.SetBytesProcessed(state.iterations() * rtf.size());
}
BENCHMARK(BM_ReadRtf)->Unit(benchmark::kMillisecond);

static void BM_ExtractPdf(benchmark::State& state) {
    const QUrl url = QUrl::fromLocalFile(QStringLiteral(CONTEXT_DATA "/resume.pdf"));
    for (auto _ : state)
        benchmark::DoNotOptimize(ContextLoader::extract(url));
}
BENCHMARK(BM_ExtractPdf)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
