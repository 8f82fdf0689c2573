#pragma once
// What the client brings on screen when a message arrives, after it has been stored and the
// contact marked unread: the contact's "Messages" window, the main window, or nothing.

namespace talvorine::client::ui {

struct IncomingSituation {
    bool automaticReply = false;  // an away reply to our own message: stored and listed only
    bool popupViewer = false;     // "Popup message viewer"
    bool senderIsContact = false;
    bool viewerOpen = false;  // the sender's "Messages" window is open already
    bool autoPopup = false;   // the contact list's "AutoPopup"
    bool mainHidden = false;
};

struct IncomingPopup {
    bool openViewer = false;  // open, or bring to the front on its received page
    bool showMain = false;
};

IncomingPopup ChooseIncomingPopup(const IncomingSituation& situation);

}  // namespace talvorine::client::ui
