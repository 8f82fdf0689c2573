#pragma once
// The engine's files as a test reads them back: a temporary client home for the account
// folders, the chat files and the keys of the transfer records.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "talvorine/client/data/history_files.h"
#include "talvorine/platform/private_profile.h"

namespace talvorine::client::session::testing {

// A fresh program folder (and registry folder) for the test's accounts, removed afterwards.
class TempClientHome {
public:
    explicit TempClientHome(const std::string& name)
        : m_path(std::filesystem::temp_directory_path() /
                 ("tlv-" + name + "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path / "registry");
        ::setenv("TALVORINE_CLIENT_HOME", m_path.c_str(), 1);
        ::setenv("TALVORINE_REGISTRY_DIR", (m_path / "registry").c_str(), 1);
    }
    ~TempClientHome() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempClientHome(const TempClientHome&) = delete;
    TempClientHome& operator=(const TempClientHome&) = delete;
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

struct StoredChat {
    std::filesystem::path file;
    data::ChatFileHeader header;
    std::string transcript;
    std::uintmax_t fileSize = 0;
};

// The chat files of `account` with `peer`, as stored.
inline std::vector<StoredChat> StoredChats(const std::string& account, const std::string& peer) {
    std::vector<StoredChat> chats;
    for (const auto& file : data::ListChatFiles(account, peer)) {
        chats.push_back({file, data::ReadChatHeader(file), data::ReadChatTranscript(file),
                         std::filesystem::file_size(file)});
    }
    return chats;
}

// One key of section "Parameters" of a transfer record, "(missing)" when absent.
inline std::string TransferKey(const std::filesystem::path& record, const std::string& key) {
    return platform::PrivateProfile(record).ReadString("Parameters", key, "(missing)");
}

}  // namespace talvorine::client::session::testing
