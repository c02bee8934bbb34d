#pragma once

#include <chrono>
#include <functional>
#include <string_view>
#include <thread>

namespace quillfen::testing {

// Long enough for a loaded machine under the sanitizers, well short of ctest's own timeout.
inline constexpr std::chrono::seconds kPatience{60};

// Runs `between` until `done` holds and says so; after kPatience the test fails instead of hanging,
// naming what it waited for, and the caller decides whether to go on.
bool waitFor(
    std::string_view what, const std::function<bool()>& done,
    const std::function<void()>& between = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });

} // namespace quillfen::testing
