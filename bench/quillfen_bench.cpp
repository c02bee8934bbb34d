// Throughput of decoding the log tool's output and of running a tool into the
// decoder, each beside the ceiling it is measured against (bench/README.md).
#include "analysis/Analysis.h"
#include "bench/LogGenerator.h"
#include "logquery/LogDecoder.h"
#include "logquery/LogQuery.h"
#include "logquery/LogReader.h"
#include "platform/Process.h"

#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

namespace {

using namespace quillfen;

constexpr std::size_t kMiB = 1 << 20;

// Generated once per size and kept, padded for simdjson, for the whole run.
const simdjson::padded_string& logOutput(std::size_t mebibytes)
{
    static std::map<std::size_t, simdjson::padded_string> cache;
    auto found = cache.find(mebibytes);
    if (found == cache.end()) {
        bench::LogShape shape;
        shape.targetBytes = mebibytes * kMiB;
        const std::chrono::sys_seconds end = std::chrono::sys_days{std::chrono::year{2026} / 12 / 5};
        shape.endTime = static_cast<double>(end.time_since_epoch().count());
        found = cache.emplace(mebibytes, simdjson::padded_string(bench::generateLog(shape))).first;
    }
    return found->second;
}

// The same bytes as a file, removed when the run ends.
const std::string& logFile(std::size_t mebibytes)
{
    static std::map<std::size_t, std::string> files;
    static const struct Cleanup {
        ~Cleanup()
        {
            for (const auto& [size, path] : files)
                std::filesystem::remove(path);
        }
    } cleanup;
    std::string& path = files[mebibytes];
    if (path.empty()) {
        const char* base = std::getenv("QUILLFEN_BENCH_DIR");
        path = (std::filesystem::path(base ? base : std::filesystem::temp_directory_path().string()) /
                ("quillfen-bench-" + std::to_string(::getpid()) + "-" + std::to_string(mebibytes) + ".json"))
                   .string();
        const auto& bytes = logOutput(mebibytes);
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    return path;
}

void setThroughput(benchmark::State& state, std::size_t bytes)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

// Decodes `text` from memory as the Check does; the shape of the whole.
JsonTopLevel decodeAsCheck(std::string_view text, BackupAnalysis& found)
{
    LogDecoder decoder(tallyInto(found.tally, Release(17)));
    decoder.feed(text);
    return decoder.finish();
}

// The decoder with the Check's tally, fed from memory.
void BM_DecodeLog(benchmark::State& state)
{
    const auto& output = logOutput(static_cast<std::size_t>(state.range(0)));
    std::size_t backups = 0;
    for (auto _ : state) {
        BackupAnalysis found;
        if (!isArray(decodeAsCheck(output, found))) {
            state.SkipWithError("the generated log did not decode");
            return;
        }
        backups = found.tally.startBU.size();
    }
    setThroughput(state, output.size());
    state.counters["backups"] = static_cast<double>(backups);
}

// Its ceiling: simdjson's DOM parse of the whole padded output, parser reused.
void BM_SimdjsonParse(benchmark::State& state)
{
    const auto& output = logOutput(static_cast<std::size_t>(state.range(0)));
    simdjson::dom::parser parser;
    for (auto _ : state) {
        simdjson::dom::element root;
        if (parser.parse(output).get(root) != simdjson::SUCCESS) {
            state.SkipWithError("simdjson rejected the generated log");
            return;
        }
        benchmark::DoNotOptimize(root);
    }
    setThroughput(state, output.size());
}

// A log query as the Check runs it, with `cat` of the file as the tool.
void BM_RunLogQuery(benchmark::State& state)
{
    const std::string& file = logFile(static_cast<std::size_t>(state.range(0)));
    const RunTool cat = [&file](const std::string&, const std::vector<std::string>&, OutputSink* output) {
        return spawnTool("/bin/cat", {file}, output);
    };
    for (auto _ : state) {
        BackupAnalysis found;
        const LogStreamResult result = streamLogCommand(cat, {}, tallyInto(found.tally, Release(17)));
        if (result.run.terminationStatus != 0 || !isArray(result.shape)) {
            state.SkipWithError("the query did not decode");
            return;
        }
    }
    setThroughput(state, logOutput(static_cast<std::size_t>(state.range(0))).size());
}

// Its ceiling: `cat` read through a pipe into one reused buffer, nothing else.
void BM_PipeCat(benchmark::State& state)
{
    const std::string& file = logFile(static_cast<std::size_t>(state.range(0)));
    const std::string command = "exec cat '" + file + "'";
    std::vector<char> buffer(kMiB);
    for (auto _ : state) {
        FILE* pipe = ::popen(command.c_str(), "r");
        while (pipe != nullptr && ::read(::fileno(pipe), buffer.data(), buffer.size()) > 0) {
        }
        if (pipe == nullptr || ::pclose(pipe) != 0) {
            state.SkipWithError("cat failed");
            return;
        }
    }
    setThroughput(state, logOutput(static_cast<std::size_t>(state.range(0))).size());
}

// One entry just below the largest the decoder takes (16 MiB), whose members hold objects closed at the start of a line
// (range 1), which look like an element's end to the cheap cut, against the
// same entry with those objects closed on their own line's end (range 0).
void BM_DecodeLongEntry(benchmark::State& state)
{
    const std::string object = state.range(0) != 0 ? "{\n}" : "{}";
    std::string text = R"([{"timestamp" : "2026-12-05 10:00:00.000000+0000", "eventMessage" : "m")";
    const std::string filler(64 << 10, 'x');
    for (int i = 0; text.size() < 15 * kMiB; ++i)
        text += ",\n  \"p" + std::to_string(i) + "\" : \"" + filler + "\", \"o" + std::to_string(i) + "\" : " + object;
    text += "\n}]\n";
    for (auto _ : state) {
        BackupAnalysis found;
        if (decodeAsCheck(text, found) != JsonTopLevel::NonEmptyArray) {
            state.SkipWithError("the long entry did not decode");
            return;
        }
    }
    setThroughput(state, text.size());
}

// A dated line of N MiB of brackets that begin process ids and never end them (range N: 1 and 10), as
// the text reader tries it in each style: ten times the line must cost about ten times the time.
void BM_ReadBracketLine(benchmark::State& state)
{
    std::string line = "2023-02-17 19:12:13.456 Df x";
    while (line.size() < static_cast<std::size_t>(state.range(0)) * kMiB)
        line += "[[[[1[1:[12:a";
    line += '\n';
    for (auto _ : state) {
        LogReader reader({}, [](Date) { return 0L; });
        reader.feed(line);
        benchmark::DoNotOptimize(reader.finish());
    }
    setThroughput(state, line.size());
}

// Wall time throughout: in the pipe cases the child does half the work.
BENCHMARK(BM_DecodeLog)->Arg(16)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SimdjsonParse)->Arg(16)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DecodeLongEntry)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadBracketLine)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RunLogQuery)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PipeCat)->Arg(128)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
