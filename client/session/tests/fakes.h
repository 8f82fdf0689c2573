#pragma once
// In-memory stand-ins for the data ports, for tests that look at what the engine stored.

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "talvorine/client/session/data_ports.h"

namespace talvorine::client::session::testing {

class MemoryContacts : public ContactBook {
public:
    void Add(const std::string& id, const std::string& nickname) {
        std::lock_guard lock(m_mutex);
        m_nicknames[id] = nickname;
    }
    std::optional<std::string> Nickname(std::string_view userId) override {
        std::lock_guard lock(m_mutex);
        const auto it = m_nicknames.find(std::string(userId));
        if (it == m_nicknames.end()) {
            return std::nullopt;
        }
        return it->second;
    }
    void AddStranger(std::string_view userId) override {
        std::lock_guard lock(m_mutex);
        m_nicknames[std::string(userId)] = std::string(userId);
        strangers.emplace_back(userId);
    }
    void AddUnread(std::string_view userId) override {
        std::lock_guard lock(m_mutex);
        ++unread[std::string(userId)];
    }
    int Unread(const std::string& id) {
        std::lock_guard lock(m_mutex);
        return unread[id];
    }
    std::vector<std::string> Strangers() {
        std::lock_guard lock(m_mutex);
        return strangers;
    }

private:
    std::mutex m_mutex;
    std::map<std::string, std::string> m_nicknames;
    std::map<std::string, int> unread;
    std::vector<std::string> strangers;
};

class MemoryHistory : public MessageHistory {
public:
    using Records = std::vector<std::vector<std::uint8_t>>;
    void AppendSent(std::string_view peerId, std::span<const std::uint8_t> record) override {
        std::lock_guard lock(m_mutex);
        if (failSent) {
            throw std::runtime_error("disk full");
        }
        sent[std::string(peerId)].emplace_back(record.begin(), record.end());
    }
    void AppendReceived(std::string_view peerId, std::span<const std::uint8_t> record) override {
        std::lock_guard lock(m_mutex);
        received[std::string(peerId)].emplace_back(record.begin(), record.end());
    }
    Records Sent(const std::string& id) {
        std::lock_guard lock(m_mutex);
        return sent[id];
    }
    Records Received(const std::string& id) {
        std::lock_guard lock(m_mutex);
        return received[id];
    }
    bool failSent = false;

private:
    std::mutex m_mutex;
    std::map<std::string, Records> sent, received;
};

class MemoryChatFiles : public ChatFiles {
public:
    struct File {
        std::string peerId;
        ChatFileHead head;
        std::string transcript;
    };
    std::filesystem::path Create(std::string_view peerId, const ChatFileHead& head) override {
        std::lock_guard lock(m_mutex);
        const std::filesystem::path path = std::string(peerId) + "-" + std::to_string(files.size());
        files[path] = File{std::string(peerId), head, {}};
        return path;
    }
    void SetAnswer(const std::filesystem::path& file, bool accepted,
                   std::string_view reason) override {
        std::lock_guard lock(m_mutex);
        files.at(file).head.accepted = accepted;
        files.at(file).head.reason = reason;
    }
    void SaveTranscript(const std::filesystem::path& file, std::string_view transcript) override {
        std::lock_guard lock(m_mutex);
        files.at(file).transcript = transcript;
    }
    std::vector<File> All() {
        std::lock_guard lock(m_mutex);
        std::vector<File> all;
        for (const auto& [path, file] : files) {
            all.push_back(file);
        }
        return all;
    }

private:
    std::mutex m_mutex;
    std::map<std::filesystem::path, File> files;
};

class MemoryTransferRecords : public TransferRecords {
public:
    using Keys = std::map<std::string, std::string>;
    std::filesystem::path Create(std::string_view peerId,
                                 const TransferRecordStart& start) override {
        std::lock_guard lock(m_mutex);
        const std::filesystem::path path =
            std::string(peerId) + "-" + std::to_string(records.size());
        auto& keys = records[path];
        keys["Type"] = start.incoming ? "1" : "0";
        keys["File Name"] = start.fileName;
        keys["Size"] = std::to_string(start.size);
        keys["Description"] = start.description;
        keys["Time"] = "now";
        return path;
    }
    void Write(const std::filesystem::path& record, std::string_view key,
               std::string_view value) override {
        std::lock_guard lock(m_mutex);
        records.at(record)[std::string(key)] = value;
    }
    Keys Get(const std::filesystem::path& record) {
        std::lock_guard lock(m_mutex);
        return records.at(record);
    }

private:
    std::mutex m_mutex;
    std::map<std::filesystem::path, Keys> records;
};

}  // namespace talvorine::client::session::testing
