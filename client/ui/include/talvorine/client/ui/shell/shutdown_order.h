#pragma once
// The client's shutdown, in the order that keeps every file whole: remember whether the window
// was hidden, hide it and tell the mailbox poller, stop the timer and the tray icon, log out
// and wait for the session's workers (serving the window's queue meanwhile), save the contact
// list, end. It runs once; a second request is ignored.

namespace talvorine::client::ui {

// The steps, supplied by the main window.
class ShutdownSteps {
public:
    virtual ~ShutdownSteps() = default;
    // "Window"/"TrayIconOnly": 1 when the window is hidden at this moment.
    virtual void RememberTrayOnly() = 0;
    // Hide the window, play the "Shutdown" sound, send "1" to the poller.
    virtual void HideAndAnnounce() = 0;
    virtual void StopTimerAndTray() = 0;
    // Logout when connected, wake every blocked worker and wait for each; false when one had
    // to be left running.
    virtual bool EndSession() = 0;
    // Save the contact list; a worker left running may still hold the ListMutex, so the save
    // must then not wait for it.
    virtual void SaveContactList(bool workersLeftBehind) = 0;
    // The window may go; the program ends.
    virtual void Finish() = 0;
};

class ShutdownOrder {
public:
    explicit ShutdownOrder(ShutdownSteps& steps) : m_steps(steps) {}

    // Runs every step in order; false (and nothing done) when it has run or runs already.
    bool Run();
    bool Started() const { return m_started; }
    bool Finished() const { return m_finished; }
    bool WorkersLeftBehind() const { return m_workersLeftBehind; }

private:
    ShutdownSteps& m_steps;
    bool m_started = false;
    bool m_finished = false;
    bool m_workersLeftBehind = false;
};

}  // namespace talvorine::client::ui
