// Drawing the timeline of a busy period, against its ceiling: 300 backups in
// 48 hours drawn 800 pixels wide in under 50 ms, so the window redraws at once
// when it is resized.
#include "timeline/Drawing.h"
#include "timeline/Svg.h"

#include <benchmark/benchmark.h>

namespace {

using namespace quillfen;

TimelineFacts busyPeriod()
{
    const Date end{1'800'000'000.0};
    TimelineFacts facts = emptyTimeline(end, 48);
    for (int i = 0; i < 300; ++i) {
        const Date start{facts.start.sinceEpoch + i * 570.0};
        facts.backups.push_back({start, Date{start.sinceEpoch + 240}, i % 10 == 0, true});
        facts.snapshots.push_back(Date{start.sinceEpoch + 250});
        if (i % 7 == 0)
            facts.errors.push_back({Date{start.sinceEpoch + 60}, "Error: something went wrong", 40});
    }
    facts.light = BackupAssessment::critical;
    return facts;
}

void DrawTimeline300Backups(benchmark::State& state)
{
    const TimelineFacts facts = busyPeriod();
    for (auto _ : state)
        benchmark::DoNotOptimize(drawTimeline(facts, 800, 120, [](Date) { return 0L; }));
    state.counters["ceiling_ms"] = 50;
}
BENCHMARK(DrawTimeline300Backups)->Unit(benchmark::kMillisecond);

void TimelineSvg300Backups(benchmark::State& state)
{
    const TimelineDrawing drawing = drawTimeline(busyPeriod(), 800, 120, [](Date) { return 0L; });
    for (auto _ : state)
        benchmark::DoNotOptimize(timelineSvg(drawing));
    state.counters["ceiling_ms"] = 50;
}
BENCHMARK(TimelineSvg300Backups)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
