// The editor recomputes the instructions' length on every keystroke: it must stay cheap even
// with a full context (several 24 000-character documents).
#include "settings/Instructions.h"

#include <benchmark/benchmark.h>

static void BM_AssembleInstructions(benchmark::State& state) {
    InstructionsInputs in;
    in.systemPrompt = QString(500, u'p');
    in.companyName = QStringLiteral("Acme");
    in.roleTitle = QStringLiteral("Staff Engineer");
    in.jobDescription = QString(6000, u'j');
    in.interviewers = {
        Interviewer{QUuid::createUuid(), QStringLiteral("Ann"), QStringLiteral("CTO")},
        Interviewer{QUuid::createUuid(), QString(), QStringLiteral("Recruiter")}};
    in.contextText = QString(int(state.range(0)), u'c');
    for (auto _ : state)
        benchmark::DoNotOptimize(assembleInstructions(in).size());
    state.SetBytesProcessed(state.iterations() * state.range(0) * qint64(sizeof(QChar)));
}
BENCHMARK(BM_AssembleInstructions)->Arg(0)->Arg(24000)->Arg(96000);

BENCHMARK_MAIN();
