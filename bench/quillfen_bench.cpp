// Throughput of the path from the log tool's output to the report, each beside
// the ceiling it is measured against (see bench/README.md for the targets).
#include "analysis/Analysis.h"
#include "bench/LogGenerator.h"
#include "logquery/LogEntry.h"
#include "logquery/LogTimestamp.h"
#include "platform/ByteBuffer.h"
#include "platform/Process.h"

#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

using namespace quillfen;

constexpr std::size_t kMiB = 1 << 20;

// 2026-12-05 18:41:00 UTC: the generated log ends here and the fixed clock reads it.
double endTime()
{
    return static_cast<double>(daysFromCivil(2026, 12, 5)) * 86400 + 18 * 3600 + 41 * 60;
}

// Generated once per size and kept for the whole run.
const ByteBuffer& logOutput(std::size_t mebibytes)
{
    static std::map<std::size_t, ByteBuffer> cache;
    auto found = cache.find(mebibytes);
    if (found == cache.end()) {
        bench::LogShape shape;
        shape.targetBytes = mebibytes * kMiB;
        shape.endTime = endTime();
        found = cache.emplace(mebibytes, ByteBuffer(bench::generateLogJson(shape))).first;
    }
    return found->second;
}

// The same bytes as a file in a scratch directory that goes when the run ends.
class ScratchFile {
public:
    explicit ScratchFile(std::size_t mebibytes)
    {
        const char* base = std::getenv("QUILLFEN_BENCH_DIR");
        directory_ = std::filesystem::path(base ? base : std::filesystem::temp_directory_path().string()) /
                     ("quillfen-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory_);
        path_ = directory_ / ("log-" + std::to_string(mebibytes) + "MiB.json");
        const ByteBuffer& bytes = logOutput(mebibytes);
        std::ofstream(path_, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        size_ = bytes.size();
    }
    ~ScratchFile()
    {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    std::string path() const { return path_.string(); }
    std::size_t size() const { return size_; }

private:
    std::filesystem::path directory_;
    std::filesystem::path path_;
    std::size_t size_ = 0;
};

const ScratchFile& scratchFile(std::size_t mebibytes)
{
    static std::map<std::size_t, std::unique_ptr<ScratchFile>> files;
    auto& file = files[mebibytes];
    if (!file)
        file = std::make_unique<ScratchFile>(mebibytes);
    return *file;
}

class FixedClock final : public Clock {
public:
    Date now() const override { return Date{endTime()}; }
};

void setThroughput(benchmark::State& state, std::size_t bytes)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

// (a) Parse, classify, tally and write the report, as a check does.
void BM_AnalyseBackupOutput(benchmark::State& state)
{
    const ByteBuffer& output = logOutput(static_cast<std::size_t>(state.range(0)));
    const FixedClock clock;
    const ReportContext context{clock.now(), 48, 17, clock, [](const std::string& message) { return message; }};
    std::size_t reportBytes = 0;
    for (auto _ : state) {
        BackupTally tally;
        bool runDAScheck = false;
        const auto report = analyseBackupOutput(output, tally, context, runDAScheck);
        if (!report) {
            state.SkipWithError("the generated log did not decode");
            return;
        }
        reportBytes = report->size();
        benchmark::DoNotOptimize(report->data());
    }
    setThroughput(state, output.size());
    state.counters["report_bytes"] = static_cast<double>(reportBytes);
}

// (a) The decoding share of the above.
void BM_ParseLogEntries(benchmark::State& state)
{
    const ByteBuffer& output = logOutput(static_cast<std::size_t>(state.range(0)));
    std::size_t entries = 0;
    for (auto _ : state) {
        const auto log = parseLogEntries(output);
        entries = log ? log->entries().size() : 0;
        benchmark::DoNotOptimize(entries);
    }
    setThroughput(state, output.size());
    state.counters["entries"] = static_cast<double>(entries);
}

// (a) The ceiling: simdjson's own DOM parse of the same padded bytes, with a
// parser whose memory is reused from one iteration to the next.
// One validating parse; false (and the benchmark marked failed) when simdjson rejects the log.
bool simdjsonParse(benchmark::State& state, simdjson::dom::parser& parser, const ByteBuffer& output)
{
    simdjson::dom::element root;
    if (parser.parse(output.data(), output.size(), false).get(root) != simdjson::SUCCESS) {
        state.SkipWithError("simdjson rejected the generated log");
        return false;
    }
    benchmark::DoNotOptimize(root);
    return true;
}

void BM_SimdjsonParse(benchmark::State& state)
{
    const ByteBuffer& output = logOutput(static_cast<std::size_t>(state.range(0)));
    simdjson::dom::parser parser;
    for (auto _ : state) {
        if (!simdjsonParse(state, parser, output))
            return;
    }
    setThroughput(state, output.size());
}

// The same with a new parser each time, as a one-shot check has to pay for.
void BM_SimdjsonParseFreshParser(benchmark::State& state)
{
    const ByteBuffer& output = logOutput(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        simdjson::dom::parser parser;
        if (!simdjsonParse(state, parser, output))
            return;
    }
    setThroughput(state, output.size());
}

// (b) A child's standard output read through spawnTool.
void BM_SpawnToolCat(benchmark::State& state)
{
    const ScratchFile& file = scratchFile(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        const ToolResult result = spawnTool("/bin/cat", {file.path()}, true);
        if (result.terminationStatus != 0 || result.output.size() != file.size()) {
            state.SkipWithError("cat did not deliver the whole file");
            return;
        }
        benchmark::DoNotOptimize(result.output.data());
    }
    setThroughput(state, file.size());
}

// Reads `cat FILE |` through popen with plain read() calls.
bool readPipe(const std::string& command, char* buffer, std::size_t capacity, std::size_t expected)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return false;
    const int fd = ::fileno(pipe);
    std::size_t total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer + total, std::min<std::size_t>(kMiB, capacity - total));
        if (got <= 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    return ::pclose(pipe) == 0 && total == expected;
}

// (b) The ceiling: the pipe read into one buffer allocated (and so paged in) once.
void BM_PipeCat(benchmark::State& state)
{
    const ScratchFile& file = scratchFile(static_cast<std::size_t>(state.range(0)));
    const std::size_t capacity = file.size() + kMiB;
    const auto buffer = std::make_unique<char[]>(capacity);
    const std::string command = "exec cat '" + file.path() + "'";
    for (auto _ : state) {
        if (!readPipe(command, buffer.get(), capacity, file.size())) {
            state.SkipWithError("cat did not deliver the whole file");
            return;
        }
        benchmark::DoNotOptimize(buffer.get());
    }
    setThroughput(state, file.size());
}

// The same into a new buffer each time: how much of the gap is first-touch paging.
void BM_PipeCatFreshBuffer(benchmark::State& state)
{
    const ScratchFile& file = scratchFile(static_cast<std::size_t>(state.range(0)));
    const std::size_t capacity = file.size() + kMiB;
    const std::string command = "exec cat '" + file.path() + "'";
    for (auto _ : state) {
        const std::unique_ptr<char, decltype(&std::free)> buffer(static_cast<char*>(std::malloc(capacity)), &std::free);
        if (!buffer || !readPipe(command, buffer.get(), capacity, file.size())) {
            state.SkipWithError("cat did not deliver the whole file");
            return;
        }
        benchmark::DoNotOptimize(buffer.get());
    }
    setThroughput(state, file.size());
}

// Every case measures wall time: in the pipe cases the child does half the work.
BENCHMARK(BM_AnalyseBackupOutput)->Arg(1)->Arg(16)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParseLogEntries)->Arg(1)->Arg(16)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SimdjsonParse)->Arg(1)->Arg(16)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SimdjsonParseFreshParser)->Arg(1)->Arg(16)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SpawnToolCat)->Arg(16)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PipeCat)->Arg(16)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PipeCatFreshBuffer)->Arg(16)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
