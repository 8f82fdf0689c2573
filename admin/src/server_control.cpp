#include "talvorine/admin/server_control.h"

#include <thread>

#include "talvorine/platform/local_channel.h"
#include "talvorine/platform/process.h"

namespace talvorine::admin {

namespace {

using namespace std::chrono_literals;

constexpr auto FirstPoll = 1000ms;
constexpr auto PollEvery = 200ms;
constexpr auto ConsoleLimit = 15000ms;

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

ServerControl::ServerControl(ServerControlOptions options) : m_options(std::move(options)) {}

void ServerControl::Wait(std::chrono::milliseconds time) {
    if (m_options.wait) {
        m_options.wait(time);
    } else {
        std::this_thread::sleep_for(time);
    }
}

std::string ServerControl::ServiceState() {
    std::string output;
    if (platform::RunProgram({"systemctl", "is-active", std::string(ServiceUnitName)}, &output) <
        0) {
        return {};
    }
    return Trimmed(output);
}

bool ServerControl::IsRunning() {
    if (m_options.service) {
        return ServiceState() == "active";
    }
    return platform::ChannelExists(m_options.stopEventName);
}

void ServerControl::PollService(ProgressSink& progress, std::string_view pendingState) {
    progress.Step();
    Wait(FirstPoll);
    while (ServiceState() == pendingState) {
        progress.Step();
        Wait(PollEvery);
    }
}

bool ServerControl::Start(ProgressSink& progress) {
    if (m_options.service) {
        // Starting a unit that runs already succeeds as well.
        if (platform::RunProgram(
                {"systemctl", "start", "--no-block", std::string(ServiceUnitName)}) == 0) {
            PollService(progress, "activating");
        }
    } else {
        m_started =
            platform::StartProgram({m_options.program.string(), "-console"}, m_options.folder);
        auto waited = 0ms;
        while (m_started > 0 && !platform::ChannelExists(m_options.stopEventName) &&
               waited < ConsoleLimit) {
            // A server that ended (a busy port, no database) will not create its event.
            if (!platform::ProgramRunning(m_started)) {
                m_started = -1;
                break;
            }
            progress.Step();
            Wait(PollEvery);
            waited += PollEvery;
        }
    }
    if (IsRunning()) {
        progress.SetPosition(100);
        Wait(1000ms);
        progress.SetPosition(0);
        return true;
    }
    progress.SetPosition(0);
    return false;
}

bool ServerControl::Stop(ProgressSink& progress) {
    if (m_options.service) {
        // Stopping a unit that is not active succeeds as well.
        if (platform::RunProgram(
                {"systemctl", "stop", "--no-block", std::string(ServiceUnitName)}) == 0) {
            PollService(progress, "deactivating");
        }
    } else if (platform::SendChannelLine(m_options.stopEventName, "set")) {
        auto waited = 0ms;
        while (platform::ChannelExists(m_options.stopEventName) && waited < ConsoleLimit) {
            progress.Step();
            Wait(PollEvery);
            waited += PollEvery;
        }
    }
    // Collects the exit status of a console server this program started.
    if (m_started > 0 && !platform::ProgramRunning(m_started)) {
        m_started = -1;
    }
    if (!IsRunning()) {
        progress.SetPosition(100);
        Wait(500ms);
        progress.SetPosition(0);
        return true;
    }
    progress.SetPosition(0);
    return false;
}

}  // namespace talvorine::admin
