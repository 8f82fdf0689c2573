#pragma once
// The pictures of the contact list: the built-in ones, drawn at run time (status pictures at
// 16x16 and 32x32, the flashing group-header pictures, the menu item pictures), and a
// contact's own Normal, Away and N/A pictures from the account's Icons folder.

#include <QIcon>
#include <QPixmap>
#include <array>
#include <string_view>

#include "talvorine/client/ui/contacts/contact_list_rules.h"

namespace talvorine::client::ui::contacts {

inline constexpr int SmallPicture = 16;
inline constexpr int LargePicture = 32;

enum class MenuPicture { Message, Chat, DeleteUser, Refresh };

class BuiltinPictures {
public:
    BuiltinPictures();
    // Normal, Away, NotAvailable or Unread at the size, as online or offline items draw it;
    // a null pixmap for None.
    const QPixmap& Status(PictureKind kind, bool large, bool online = true) const;
    // The two pictures a group header with unread messages alternates.
    const QPixmap& Header(bool phase) const { return m_header[phase ? 1 : 0]; }
    QIcon Menu(MenuPicture picture) const;

private:
    std::array<QPixmap, 8> m_status;  // kind-major, small then large
    std::array<QPixmap, 8> m_statusOff;
    std::array<QPixmap, 2> m_header;
    std::array<QPixmap, 4> m_menu;
    QPixmap m_none;
};

// A contact's own pictures, small and large; a slot is null when the file is missing or is
// not a bitmap. Magenta (0xFF00FF) becomes transparent.
struct ContactPictures {
    std::array<QPixmap, 3> small;  // Normal, Away, N/A
    std::array<QPixmap, 3> large;
    std::array<QPixmap, 3> smallOff;  // as offline items draw them
    std::array<QPixmap, 3> largeOff;
    // The own picture of that kind, or null (Unread and None have none).
    const QPixmap& Get(PictureKind kind, bool isLarge, bool online = true) const;
};
ContactPictures LoadContactPictures(std::string_view accountId, std::string_view contactId);

// The picture as an offline item draws it.
QPixmap DisabledPicture(const QPixmap& picture);

}  // namespace talvorine::client::ui::contacts
