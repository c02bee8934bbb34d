#include "platform/Process.h"

#include <cstdlib>

namespace quillfen {

ToolPaths ToolPaths::configured()
{
#ifdef QUILLFEN_SIMULATED_MAC_ROOT
    if (const char* root = std::getenv("QUILLFEN_TOOL_ROOT"); root != nullptr && *root != '\0')
        return ToolPaths(root);
    return ToolPaths(QUILLFEN_SIMULATED_MAC_ROOT);
#else
    return ToolPaths("");
#endif
}

} // namespace quillfen
