#include "talvorine/client/ui/shell/shell_rules.h"

namespace talvorine::client::ui {

using protocol::OnlineStatus;

TrayPicture StatusPicture(OnlineStatus status) {
    switch (status) {
        case OnlineStatus::Online:
            return TrayPicture::Online;
        case OnlineStatus::Away:
            return TrayPicture::Away;
        case OnlineStatus::NotAvailable:
            return TrayPicture::NotAvailable;
        case OnlineStatus::Offline:
            break;
    }
    return TrayPicture::Offline;
}

std::optional<TrayPicture> TrayPictureRule::Tick(const TrayInputs& inputs) {
    TrayPicture next;
    if (inputs.windowOutOfSight && inputs.unreadMessages) {
        next = (m_messageStep++ % 2 == 0) ? TrayPicture::Message1 : TrayPicture::Message2;
        m_connectingStep = 0;
    } else if (inputs.connecting) {
        next = static_cast<TrayPicture>(static_cast<int>(TrayPicture::Connecting1) +
                                        static_cast<int>(m_connectingStep++ % 4));
        m_messageStep = 0;
    } else {
        next = StatusPicture(inputs.status);
        m_messageStep = 0;
        m_connectingStep = 0;
    }
    if (m_current == next) {
        return std::nullopt;
    }
    m_current = next;
    return next;
}

MainMenuState MainMenuState::For(const SessionFlags& flags) {
    MainMenuState state;
    state.connect.enabled = !flags.connected && !flags.connectWorkerRunning;
    state.disconnect.enabled = flags.connected && !flags.connectWorkerRunning;
    const bool statusEnabled = flags.connected;
    state.online = {statusEnabled, flags.status == OnlineStatus::Online};
    state.away = {statusEnabled, flags.status == OnlineStatus::Away};
    state.notAvailable = {statusEnabled, flags.status == OnlineStatus::NotAvailable};
    return state;
}

session::NetworkSettings NetworkFrom(const data::ClientSettings& settings) {
    const auto defaults = data::ClientSettings::Defaults();
    session::NetworkSettings network;
    network.server = data::TrimServerAddress(settings.server).value_or(std::string());
    const bool portValid = settings.port >= data::SettingLimits::PortMin &&
                           settings.port <= data::SettingLimits::PortMax;
    network.port = static_cast<std::uint16_t>(portValid ? settings.port : defaults.port);
    network.autoConnect = settings.autoConnect;
    const bool intervalValid =
        settings.connectInterval >= data::SettingLimits::ConnectIntervalMin &&
        settings.connectInterval <= data::SettingLimits::ConnectIntervalMax;
    network.connectInterval = intervalValid ? settings.connectInterval : defaults.connectInterval;
    return network;
}

std::string_view ShowHideText(bool windowVisible) {
    return windowVisible ? ShellText::HideWindow : ShellText::ShowWindow;
}

}  // namespace talvorine::client::ui
