#pragma once
// A temporary folder for the hives, set as TALVORINE_REGISTRY_DIR for the test's lifetime.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace talvorine::mailpoll::testing {

class TempRegistry {
public:
    TempRegistry() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "mailpoll-test-XXXXXX").string();
        m_folder = ::mkdtemp(pattern.data());
        ::setenv("TALVORINE_REGISTRY_DIR", m_folder.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", m_folder.c_str(), 1);
    }
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;
    ~TempRegistry() {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    const std::filesystem::path& Folder() const { return m_folder; }

private:
    std::filesystem::path m_folder;
};

}  // namespace talvorine::mailpoll::testing
