#include "talvorine/client/ui/shell/shutdown_order.h"

namespace talvorine::client::ui {

bool ShutdownOrder::Run() {
    if (m_started) {
        return false;
    }
    m_started = true;
    m_steps.RememberTrayOnly();
    m_steps.HideAndAnnounce();
    m_steps.StopTimerAndTray();
    m_workersLeftBehind = !m_steps.EndSession();
    m_steps.SaveContactList(m_workersLeftBehind);
    m_finished = true;
    m_steps.Finish();
    return true;
}

}  // namespace talvorine::client::ui
