#pragma once

#include <map>
#include <optional>
#include <string>

namespace orvan::testing {

// Changes this process's environment (children such as adb inherit it) and restores every
// variable it touched when it goes away.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const std::string& name, const std::string& value);
    void unset(const std::string& name);

private:
    void remember(const std::string& name);
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace orvan::testing
