#pragma once
// What the host hands to the session and account parts for the whole run.

#include <atomic>
#include <cstdint>
#include <filesystem>

namespace talvorine::server {

class AccountDatabase;
class ServerLog;
class EventLog;

struct ServerContext {
    AccountDatabase& database;
    ServerLog& log;
    EventLog& events;
    std::filesystem::path folder;  // the server folder; "Icons" lives here
    // Set by the main thread when shutdown begins; silences end-of-connection log lines.
    std::atomic<bool> stopping{false};
    bool consoleMode = false;
    std::uint16_t port = 8000;  // session port; the account port is port + 1
};

}  // namespace talvorine::server
