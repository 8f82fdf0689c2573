#pragma once
// The system event log of the service form: syslog (journald) under the identifier
// "Talvorine Messenger Server". Entries are written only in service mode.

#include <string_view>

namespace talvorine::server {

inline constexpr std::string_view EventSource = "Talvorine Messenger Server";

class EventLog {
public:
    explicit EventLog(bool serviceMode);
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    bool Enabled() const { return m_enabled; }
    void Error(std::string_view text);        // at most 512 characters
    void Information(std::string_view text);  // at most 512 characters

private:
    void Report(int priority, std::string_view text);
    bool m_enabled;
};

}  // namespace talvorine::server
