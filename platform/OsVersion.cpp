#include "platform/OsVersion.h"

#include "platform/IntegerText.h"

namespace quillfen {

OsVersion parseProductVersion(std::string_view text)
{
    OsVersion version{scanInteger(text), 0};
    if (const auto dot = text.find('.'); dot != std::string_view::npos)
        version.minor = scanInteger(text.substr(dot + 1));
    return version;
}

OsVersion queryOsVersion(const RunTool& runTool)
{
    const ToolResult result = runTool("/usr/bin/sw_vers", {"-productVersion"}, true);
    if (!result.launchFailure.empty() || result.terminationStatus != 0)
        return OsVersion{10, 0};
    return parseProductVersion(result.output.view());
}

} // namespace quillfen
