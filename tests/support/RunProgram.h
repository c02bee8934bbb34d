#pragma once

#include <string>
#include <vector>

namespace quillfen::testing {

struct Outcome {
    int status = -1; // exit status, or -1 when killed
    std::string out, err;
};

// Runs a built program with the given arguments, in this process's environment
// less any simulated-Mac settings, plus `settings` ("NAME=value" each).
Outcome runProgram(const std::string& path, std::vector<std::string> arguments,
                   const std::vector<std::string>& settings = {});

} // namespace quillfen::testing
