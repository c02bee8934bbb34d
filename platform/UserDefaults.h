#pragma once

#include <map>
#include <string>
#include <variant>

namespace quillfen {

// The user's preferences store. Reading a missing key gives 0.0 or false, as on the Mac.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;
    virtual double doubleForKey(const std::string& key) const = 0;
    virtual void setDouble(const std::string& key, double value) = 0;
    virtual bool boolForKey(const std::string& key) const = 0;
    virtual void setBool(const std::string& key, bool value) = 0;
};

class InMemoryDefaults final : public UserDefaults {
public:
    double doubleForKey(const std::string& key) const override;
    void setDouble(const std::string& key, double value) override;
    bool boolForKey(const std::string& key) const override;
    void setBool(const std::string& key, bool value) override;

private:
    std::map<std::string, std::variant<double, bool>, std::less<>> values_;
};

} // namespace quillfen
