#include "talvorine/client/ui/messages/incoming_popup.h"

namespace talvorine::client::ui {

IncomingPopup ChooseIncomingPopup(const IncomingSituation& situation) {
    IncomingPopup popup;
    if (situation.automaticReply) {
        return popup;
    }
    if (situation.popupViewer && situation.senderIsContact) {
        popup.openViewer = true;
        // A viewer brought to the front should not sit above a hidden main window.
        popup.showMain = situation.viewerOpen && situation.mainHidden;
    } else if (situation.autoPopup && situation.mainHidden) {
        popup.showMain = true;
    }
    return popup;
}

}  // namespace talvorine::client::ui
