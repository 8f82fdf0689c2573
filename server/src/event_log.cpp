#include "talvorine/server/event_log.h"

#include <syslog.h>

#include <string>

#include "talvorine/platform/text.h"

namespace talvorine::server {

namespace {
constexpr std::size_t MaxEventText = 512;
// openlog keeps the pointer, so the identifier must outlive every syslog call.
const std::string EventIdentifier(EventSource);
}  // namespace

EventLog::EventLog(bool serviceMode) : m_enabled(serviceMode) {
    if (m_enabled) {
        openlog(EventIdentifier.c_str(), LOG_PID, LOG_DAEMON);
    }
}

EventLog::~EventLog() {
    if (m_enabled) {
        closelog();
    }
}

void EventLog::Error(std::string_view text) {
    Report(LOG_ERR, text);
}

void EventLog::Information(std::string_view text) {
    Report(LOG_INFO, text);
}

void EventLog::Report(int priority, std::string_view text) {
    if (!m_enabled) {
        return;
    }
    std::string entry(platform::CutUtf8(text, MaxEventText));
    syslog(priority, "%s", entry.c_str());
}

}  // namespace talvorine::server
