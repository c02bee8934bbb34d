// Feeds arbitrary bytes, as the log tool's output, through everything a check
// does with them: decoding, classification, the tally with what the log before
// the period and `tmutil status` add, the report with its free-space lines,
// and the scheduler verdicts.
#include "analysis/Analysis.h"
#include "analysis/Classify.h"
#include "analysis/Punctuation.h"
#include "analysis/Tally.h"
#include "analysis/VolumeSpace.h"
#include "checks/SchedulerCheck.h"
#include "logquery/LogDecoder.h"
#include "logquery/LogTimestamp.h"

#include <simdjson.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

namespace {

using namespace quillfen;

class FixedClock final : public Clock {
public:
    // 2026-12-05 18:41:00 UTC.
    Date now() const override { return Date{1796582460.0}; }
};

std::uint64_t hashOf(std::string_view text)
{
    std::uint64_t hash = 14695981039346656037ULL; // FNV-1a
    for (const char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return hash;
}

// Answers chosen by the path's hash, so every branch of the free-space line
// (no answer, no sizes, each marker, the byte-count edges) is reachable.
class HashedVolumes final : public VolumeQueries {
public:
    std::string fileURLPath(const std::string& path) const override
    {
        std::string absolute = !path.empty() && path.front() == '/' ? path : "/fuzz/" + path;
        while (absolute.size() > 1 && absolute.back() == '/')
            absolute.pop_back();
        return absolute;
    }
    std::optional<bool> supportsVolumeSizes(const std::string& path) const override
    {
        switch (hashOf(path) % 4) {
        case 0:
            return std::nullopt;
        case 1:
            return false;
        default:
            return true;
        }
    }
    std::optional<std::int64_t> availableCapacity(const std::string& path) const override
    {
        static constexpr std::array<std::int64_t, 9> kEdges{0,
                                                            1,
                                                            999,
                                                            1000,
                                                            9'999'999'999,
                                                            10'000'000'000,
                                                            49'999'999'999,
                                                            50'000'000'000,
                                                            std::numeric_limits<std::int64_t>::max()};
        const std::uint64_t hash = hashOf(path) >> 2;
        if (hash % 11 == 0)
            return std::nullopt;
        if (hash % 2 == 0)
            return kEdges[(hash >> 4) % kEdges.size()];
        return static_cast<std::int64_t>(hash >> 1);
    }
};

// The report is built from decoded (so valid UTF-8) text; losing that would
// mean a cut through a character somewhere.
bool checkUtf8 = true;

void exerciseSlices(std::string_view bytes)
{
    // Lines stand in for messages and timestamps; a few dozen cover the shapes.
    for (int line = 0; line < 32 && !bytes.empty(); ++line) {
        const std::size_t end = bytes.find('\n');
        const std::string_view slice = bytes.substr(0, end);
        (void)parseLogTimestamp(slice);
        (void)trimPunctuation(slice);
        (void)classifyEntry(slice);
        (void)extractCopyReport(slice);
        (void)extractAvailableSpace(slice);
        (void)extractShareSpace(slice);
        (void)extractMountedDestination(slice);
        if (end == std::string_view::npos)
            break;
        bytes.remove_prefix(end + 1);
    }
}

// Everything a decoder hands over, with its verdict, for comparing two decodings.
std::string decodingOf(std::string_view bytes, std::uint64_t seed)
{
    std::string seen;
    const auto keep = [&seen](const LogEntry& entry) {
        seen.append(entry.timestamp).append("\x1f").append(entry.eventMessage).append("\x1f");
        seen.append(entry.subsystem).append("\x1e");
    };
    // With a seed: batches of 1 to 97 bytes and pieces of 1 to 64, both chosen by it.
    LogDecoder decoder(keep, seed == 0 ? LogDecoder::kBatchBytes : seed % 97 + 1);
    while (seed != 0 && !bytes.empty()) {
        const std::size_t piece = std::min<std::size_t>(bytes.size(), seed % 64 + 1);
        decoder.feed(bytes.substr(0, piece));
        bytes.remove_prefix(piece);
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    }
    decoder.feed(bytes);
    const JsonTopLevel shape = decoder.finish();
    return std::to_string(static_cast<int>(shape)) + (isArray(shape) ? seen : std::string());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    checkUtf8 = std::getenv("QUILLFEN_FUZZ_NO_UTF8_CHECK") == nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // Settings vary with the input's length, so the corpus reaches every
    // version-dependent part of the report without spending bytes on them.
    static constexpr std::array<std::int64_t, 4> kOsVersions{13, 15, 16, 17};
    const FixedClock clock;
    const HashedVolumes volumes;
    const ReportContext context{clock.now(), static_cast<std::int64_t>(size % 48) + 1, Release(kOsVersions[size % 4]),
                                clock, size % 5 == 0};
    BackupAnalysis found;
    // The same entries also stand for the log before the period, and the bytes for `tmutil status`.
    EarlierBackups earlier;
    LogDecoder decoder([&, tally = tallyInto(found.tally, context.osVersion)](const LogEntry& entry) {
        tally(entry);
        if (const auto time = parseLogTimestamp(entry.timestamp))
            earlier.note(*time, entry.eventMessage);
    });
    decoder.feed(bytes);
    const JsonTopLevel shape = decoder.finish();
    if (isArray(shape) && found.tally.completedBackups() == 0) {
        applyEarlier(found.tally, earlier, clock.now());
        if (const auto status = readBackupStatus(bytes))
            applyStatus(found.tally, *status);
    }
    if (isArray(shape))
        measureDestinations(found.tally, volumes);
    const auto report = isArray(shape) ? std::optional(assessAndCompose(found, context)) : std::nullopt;

    // Only arrays decode into a report; the scheduler check sees the same shape.
    const JsonTopLevel top = decodeLog(bytes, {}).shape;
    if (report.has_value() != isArray(top) || top != shape)
        __builtin_trap();
    // However the output arrives, it decodes alike.
    if (decodingOf(bytes, 0) != decodingOf(bytes, hashOf(bytes) | 1))
        __builtin_trap();
    if (report) {
        const CheckAssessment& assessment = found.assessment;
        if (assessment.BUassessment < BackupAssessment::healthy || assessment.BUassessment > BackupAssessment::critical)
            __builtin_trap();
        // Every light but green has a cause, and green has none.
        if (assessment.causes.empty() != (assessment.BUassessment == BackupAssessment::healthy))
            __builtin_trap();
        // Each error's line in the layout is the line the report writes it on, whole.
        std::vector<std::size_t> lineStarts{0};
        for (std::size_t i = 0; i < report->size(); ++i)
            if ((*report)[i] == '\n')
                lineStarts.push_back(i + 1);
        const std::vector<ErrorEntry>& errors = found.tally.errors;
        if (found.layout.errorLines.size() != errors.size())
            __builtin_trap();
        for (std::size_t i = 0; i < errors.size(); ++i) {
            const std::size_t line = found.layout.errorLines[i];
            const std::string text = errorText(errors[i]);
            if (line >= lineStarts.size() || std::string_view(*report).substr(lineStarts[line], text.size()) != text)
                __builtin_trap();
        }
        if (checkUtf8 && !simdjson::validate_utf8(report->data(), report->size()))
            __builtin_trap();
    }

    const auto minutes = static_cast<std::int64_t>(size % 90) + 1;
    (void)dasVerdict(top, minutes);
    (void)ctsVerdict(top, minutes, Release::of(OsVersion{12 + static_cast<std::int64_t>(size % 3), 0}));
    exerciseSlices(bytes);
    return 0;
}
