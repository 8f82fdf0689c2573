#pragma once
// Starting, stopping and asking after the server, in either of its forms:
// - service form: the systemd unit the server's install command wrote, through systemctl
//   (start, stop, is-active), polled after 1000 ms and then every 200 ms while it is
//   activating or deactivating;
// - console form: the server program started with "-console", and its stop event (a local
//   channel), polled every 200 ms for at most 15 s.
// The caller sees the progress through a sink and keeps its window alive through a wait pump,
// which the waits call instead of sleeping.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace talvorine::admin {

inline constexpr std::string_view ServiceUnitName = "talvorine-messenger-server.service";

// The progress bar (range 0 to 100) as the control steps it.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void SetPosition(int position) = 0;
    virtual int Position() const = 0;
    // One step of 10, wrapping to 0 past the end, as a progress control steps.
    void Step() { SetPosition(Position() + 10 > 100 ? 0 : Position() + 10); }
};

struct ServerControlOptions {
    bool service = false;
    std::filesystem::path program;  // the server program (console form)
    std::filesystem::path folder;   // where it is started (console form)
    std::string stopEventName;
    // Waits for about the given time; the default sleeps. Windows pass one that keeps their
    // event loop turning.
    std::function<void(std::chrono::milliseconds)> wait;
};

class ServerControl {
public:
    explicit ServerControl(ServerControlOptions options);

    // Service form: "systemctl is-active" answers "active"; console form: the stop event can
    // be opened.
    bool IsRunning();
    // Start and stop as designed; true when the final query finds the server running
    // (Start) or stopped (Stop). The bar ends at 0 either way.
    bool Start(ProgressSink& progress);
    bool Stop(ProgressSink& progress);

    // Exposed for tests: the unit's state as systemctl reports it ("active", "activating",
    // "inactive", ...), "" when systemctl could not run.
    std::string ServiceState();

private:
    void Wait(std::chrono::milliseconds time);
    void PollService(ProgressSink& progress, std::string_view pendingState);

    ServerControlOptions m_options;
    pid_t m_started = -1;  // the console server this program started, while it runs
};

}  // namespace talvorine::admin
