#include "app/LoginItem.h"

#include "platform/FileWrite.h"

#include <plist/plist.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>

namespace quillfen {

namespace {

constexpr std::string_view kLabel = "org.quillfen.Quillfen";
// What the app is opened with at login: no window, only the light in the menu bar.
constexpr const char* kBackgroundOption = "--background";

std::string folderOf(std::string_view home)
{
    return std::string(home) + "/Library/LaunchAgents";
}

} // namespace

std::string launchAgentPath(std::string_view home)
{
    return folderOf(home) + "/" + std::string(kLabel) + ".plist";
}

std::string launchAgentPlist(std::string_view program)
{
    const std::unique_ptr<void, void (*)(plist_t)> agent(plist_new_dict(), plist_free);
    plist_dict_set_item(agent.get(), "Label", plist_new_string(std::string(kLabel).c_str()));
    plist_t arguments = plist_new_array();
    plist_array_append_item(arguments, plist_new_string(std::string(program).c_str()));
    plist_array_append_item(arguments, plist_new_string(kBackgroundOption));
    plist_dict_set_item(agent.get(), "ProgramArguments", arguments);
    plist_dict_set_item(agent.get(), "RunAtLoad", plist_new_bool(1));
    // In the user's graphical session only, where the menu bar is.
    plist_dict_set_item(agent.get(), "LimitLoadToSessionType", plist_new_string("Aqua"));
    plist_dict_set_item(agent.get(), "ProcessType", plist_new_string("Interactive"));
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(agent.get(), &xml, &length);
    // Allocated with malloc; freed so in every libplist release, whose own freeing call changed name.
    const std::unique_ptr<char, void (*)(void*)> owned(xml, std::free);
    return owned ? std::string(owned.get(), length) : std::string();
}

bool opensAtLogin(std::string_view home)
{
    std::error_code error;
    return std::filesystem::is_regular_file(launchAgentPath(home), error);
}

std::optional<std::string> setOpenAtLogin(std::string_view home, std::string_view program, bool open)
{
    const std::string path = launchAgentPath(home);
    std::error_code error;
    if (!open) {
        std::filesystem::remove(path, error); // none there is no error
        return error ? std::optional(path + ": " + error.message()) : std::nullopt;
    }
    std::filesystem::create_directories(folderOf(home), error);
    if (error)
        return folderOf(home) + ": " + error.message();
    const std::string text = launchAgentPlist(program);
    if (text.empty())
        return path + ": the property list could not be made";
    // Written again at each launch to follow a moved app: untouched when it already says the same.
    if (std::filesystem::file_size(path, error) == text.size() && !error) {
        std::ifstream existing(path, std::ios::binary);
        if (std::string(std::istreambuf_iterator<char>(existing), {}) == text)
            return std::nullopt;
    }
    if (auto failure = writeFileAtomically(path, text, 0644))
        return path + ": " + *failure;
    return std::nullopt;
}

} // namespace quillfen
