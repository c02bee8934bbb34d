// Writes generated `log show` output to a file, for the end-to-end timing.
#include "bench/LogGenerator.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kUsage =
    "Usage: quillfen_loggen MEBIBYTES OUTPUT [--end EPOCH_SECONDS] [--hours H] [--seed N]\n"
    "                       [--backups N] [--errors-every N] [--skips-every N]\n"
    "                       [--style json|ndjson|default|compact] [--others PERCENT] [--results]\n"
    "The newest entry is stamped at --end (default: now). --others: the share of entries\n"
    "from other subsystems; --results: Time Machine's noise is multi-line \"Backup result\" entries.\n"
    "Text styles are stamped at UTC-8 (compact without an offset: read it with TZ=Etc/GMT+8).\n";

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::cerr << kUsage;
        return 2;
    }
    quillfen::bench::LogShape shape;
    shape.targetBytes = static_cast<std::size_t>(std::strtoull(argv[1], nullptr, 10)) << 20;
    const std::string output = argv[2];
    shape.endTime = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    for (int i = 3; i < argc; i += 2) {
        const std::string_view option = argv[i];
        if (option == "--results") {
            shape.results = true;
            --i;
        } else if (i + 1 == argc) {
            std::cerr << kUsage;
            return 2;
        } else if (option == "--style") {
            const std::string_view style = argv[i + 1];
            if (style == "json")
                shape.style = quillfen::bench::GeneratedStyle::Json;
            else if (style == "ndjson")
                shape.style = quillfen::bench::GeneratedStyle::Ndjson;
            else if (style == "default")
                shape.style = quillfen::bench::GeneratedStyle::Default;
            else if (style == "compact")
                shape.style = quillfen::bench::GeneratedStyle::Compact;
            else {
                std::cerr << kUsage;
                return 2;
            }
        } else if (option == "--others") {
            shape.otherPercent = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
        } else if (option == "--end") {
            shape.endTime = std::strtod(argv[i + 1], nullptr);
        } else if (option == "--hours") {
            shape.hours = std::strtod(argv[i + 1], nullptr);
        } else if (option == "--seed") {
            shape.seed = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (option == "--backups") {
            shape.backups = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (option == "--errors-every") {
            shape.errorEvery = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (option == "--skips-every") {
            shape.skipEvery = std::strtoull(argv[i + 1], nullptr, 10);
        } else {
            std::cerr << kUsage;
            return 2;
        }
    }
    const std::string log = quillfen::bench::generateLog(shape);
    std::ofstream file(output, std::ios::binary);
    file.write(log.data(), static_cast<std::streamsize>(log.size()));
    if (!file) {
        std::cerr << "quillfen_loggen: cannot write " << output << '\n';
        return 1;
    }
    return 0;
}
