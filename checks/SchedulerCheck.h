#pragma once

#include "platform/ByteBuffer.h"
#include "platform/Process.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillfen {

// The verdict on the DAS query's output over the last `minutes`.
std::string checkDAS(const ByteBuffer& output, std::int64_t minutes);

// The verdict on the CTS query's output. A top-level object cannot be counted,
// so it is reported like undecodable output.
std::string checkCTS(const ByteBuffer& output, std::int64_t minutes);

struct SchedulerCheckQueries {
    const std::vector<std::string>& das;
    const std::vector<std::string>& cts;
};

enum class SchedulerService { DAS, CTS };

// Runs the DAS query, then the CTS query, over the last `minutes`, on the
// calling thread; each verdict goes to `append`, each failed run to `showError`.
void runSchedulerCheck(const RunTool& runTool, const SchedulerCheckQueries& queries, std::int64_t minutes,
                       const std::function<void(SchedulerService, const std::string&)>& append,
                       const std::function<void(const std::string&)>& showError);

} // namespace quillfen
