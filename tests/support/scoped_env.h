#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace qor::testing {

// Sets (or with an empty value, on Windows, removes) an environment variable.
inline void setEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    ::_putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

inline void unsetEnv(const char* name) {
#ifdef _WIN32
    ::_putenv_s(name, "");
#else
    ::unsetenv(name);
#endif
}

// Sets an environment variable for the life of the object and puts back
// what was there before.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_previous = old;
        }
        setEnv(name, value);
    }
    // Removes the variable for the life of the object.
    ScopedEnv(const char* name, std::nullopt_t) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_previous = old;
        }
        unsetEnv(name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        if (m_previous) {
            setEnv(m_name, *m_previous);
        } else {
            unsetEnv(m_name);
        }
    }

  private:
    const char* m_name;
    std::optional<std::string> m_previous;
};

}  // namespace qor::testing
