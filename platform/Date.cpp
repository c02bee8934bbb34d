#include "platform/Date.h"

#include <chrono>

namespace quillfen {

Date SystemClock::now() const
{
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return Date{std::chrono::duration<double>(since).count()};
}

} // namespace quillfen
