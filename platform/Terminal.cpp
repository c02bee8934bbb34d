#include "platform/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace quillfen {

std::optional<std::size_t> standardErrorColumns()
{
    if (::isatty(STDERR_FILENO) != 1)
        return std::nullopt;
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return 80;
    return size.ws_col;
}

} // namespace quillfen
