#include "platform/OsVersion.h"

#include "platform/IntegerText.h"

namespace quillfen {

namespace {

constexpr std::string_view kCommand = "OS version command";
// A version number with room to spare.
constexpr std::size_t kLongestAnswer = 256;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<OsVersion> parseProductVersion(std::string_view text)
{
    if (text.ends_with('\n'))
        text.remove_suffix(1);
    // One to three numbers between full stops, nothing else.
    int numbers = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isDigit(text[i]) && (i == 0 || !isDigit(text[i - 1])))
            ++numbers;
        else if (!isDigit(text[i]) && (text[i] != '.' || i == 0 || !isDigit(text[i - 1])))
            return std::nullopt;
    }
    if (numbers < 1 || numbers > 3 || !isDigit(text.back()))
        return std::nullopt;
    OsVersion version{scanInteger(text), 0};
    if (const auto dot = text.find('.'); dot != std::string_view::npos)
        version.minor = scanInteger(text.substr(dot + 1));
    return version.major >= 10 ? std::optional(version) : std::nullopt;
}

SystemVersion queryOsVersion(const RunTool& runTool)
{
    TextOutput output(kLongestAnswer);
    const ToolResult result = runTool("/usr/bin/sw_vers", {"-productVersion"}, &output);
    if (const auto failure = toolFailureText(result, kCommand))
        return SystemVersion::unknown(*failure);
    if (result.outputRefused)
        return SystemVersion::unknown(std::string(kCommand) + " printed more than " + std::to_string(kLongestAnswer) +
                                      " bytes");
    if (const auto version = parseProductVersion(output.text()))
        return *version;
    return SystemVersion::unknown(std::string(kCommand) + " gave no version");
}

} // namespace quillfen
