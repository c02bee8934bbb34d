#include "support/Wait.h"

#include <gtest/gtest.h>

namespace quillfen::testing {

bool waitFor(std::string_view what, const std::function<bool()>& done, const std::function<void()>& between)
{
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "gave up after " << kPatience.count() << " s waiting for " << what;
            return false;
        }
        between();
    }
    return true;
}

} // namespace quillfen::testing
