#include "platform/UserDefaults.h"

namespace quillfen {

namespace {

// A stored number read as a Boolean is true when non-zero, and the reverse, as on the Mac.
double asDouble(const std::variant<double, bool>& value)
{
    return std::holds_alternative<double>(value) ? std::get<double>(value) : (std::get<bool>(value) ? 1.0 : 0.0);
}

} // namespace

double InMemoryDefaults::doubleForKey(const std::string& key) const
{
    const auto found = values_.find(key);
    return found == values_.end() ? 0.0 : asDouble(found->second);
}

void InMemoryDefaults::setDouble(const std::string& key, double value)
{
    values_[key] = value;
}

bool InMemoryDefaults::boolForKey(const std::string& key) const
{
    const auto found = values_.find(key);
    return found != values_.end() && asDouble(found->second) != 0.0;
}

void InMemoryDefaults::setBool(const std::string& key, bool value)
{
    values_[key] = value;
}

} // namespace quillfen
