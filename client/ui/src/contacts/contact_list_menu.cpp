// The context menu of the contact list and the commands it offers.

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFont>
#include <QMenu>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>
#include <QUrl>

#include "contact_dialogs.h"
#include "talvorine/client/ui/contacts/contact_list_bar.h"
#include "talvorine/client/ui/contacts/floating_contact.h"

namespace talvorine::client::ui::contacts {

namespace {

// The contact menu's item sizes: as wide as the text plus twice a check mark plus 8 pixels
// (never narrower than the style needs for the picture and the short-cut), as high as a menu
// bar but at least 16 pixels; separators 8 pixels.
class ContactMenuStyle : public QProxyStyle {
public:
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override {
        const QSize base = QProxyStyle::sizeFromContents(type, option, size, widget);
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (type != CT_MenuItem || item == nullptr) {
            return base;
        }
        if (item->menuItemType == QStyleOptionMenuItem::Separator) {
            return QSize(base.width(), 8);
        }
        const int check = pixelMetric(PM_IndicatorWidth, option, widget);
        const int text =
            item->fontMetrics.horizontalAdvance(item->text.section(QLatin1Char('\t'), 0, 0));
        QStyleOptionMenuItem bar = *item;
        bar.menuItemType = QStyleOptionMenuItem::Normal;
        const int barHeight =
            QProxyStyle::sizeFromContents(CT_MenuBarItem, &bar,
                                          item->fontMetrics.size(0, item->text), widget)
                .height();
        return QSize(std::max(base.width(), text + 2 * check + 8), std::max(16, barHeight));
    }
};

void AddHeading(QMenu& menu, const QString& text) {
    QAction* heading = menu.addAction(text);
    heading->setObjectName(QStringLiteral("heading"));
    heading->setEnabled(false);
    QFont font = heading->font();
    font.setBold(true);
    heading->setFont(font);
}

}  // namespace

void CContactListBar::SetMenuTarget(std::optional<std::string> contactId, int group) {
    m_menuContact = std::move(contactId);
    m_menuGroup = group;
}

std::optional<std::string> CContactListBar::MenuContact() const {
    if (!m_menuContact || EntryOf(*m_menuContact) == nullptr) {
        return std::nullopt;
    }
    return m_menuContact;
}

std::unique_ptr<QMenu> CContactListBar::BuildContextMenu(QPoint point) {
    std::optional<std::string> contact;
    int group = -1;
    if (const auto item = ItemAt(point)) {
        contact = Open()->contacts[static_cast<std::size_t>(*item)]->id;
        group = m_list.OpenGroup();
        m_selected = Open()->contacts[static_cast<std::size_t>(*item)].get();
        update(ListArea());
    } else if (const auto header = HeaderAt(point)) {
        group = *header;
    } else if (m_list.GroupCount() > 0) {
        group = m_list.OpenGroup();
    }
    SetMenuTarget(contact, group);
    const MenuShape shape = ShapeContactMenu(contact.has_value(), group >= 0, m_host.IsConnected());

    // Not a child of the bar: the caller owns it and may outlive the bar.
    auto menu = std::make_unique<QMenu>();
    menu->setObjectName(QStringLiteral("contactListMenu"));
    // One style for every contact menu, owned by the application (a widget does not own its
    // style, and a menu may outlive the bar).
    static ContactMenuStyle* const style = [] {
        auto* created = new ContactMenuStyle;
        created->setParent(QCoreApplication::instance());
        return created;
    }();
    menu->setStyle(style);
    const auto add = [&](QMenu& target, const char* text, void (CContactListBar::*command)(),
                         bool enabled = true) {
        QAction* action = target.addAction(QString::fromLatin1(text));
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, command);
        return action;
    };
    const auto can = [this](ContactCommand command) { return m_host.CanOpen(command); };
    if (shape.contactCommands) {
        AddHeading(*menu, QStringLiteral("Contact"));
        add(*menu, "Message...", &CContactListBar::SendMessageTo, can(ContactCommand::SendMessage))
            ->setIcon(m_pictures.Menu(MenuPicture::Message));
        add(*menu, "Chat...", &CContactListBar::Chat, can(ContactCommand::Chat))
            ->setIcon(m_pictures.Menu(MenuPicture::Chat));
        add(*menu, "File Transfer...", &CContactListBar::FileTransfer,
            can(ContactCommand::FileTransfer));
        add(*menu, "E-mail", &CContactListBar::Email);
        add(*menu, "HomePage", &CContactListBar::HomePage);
        menu->addSeparator();
        AddHeading(*menu, QStringLiteral("History"));
        add(*menu, "Message History...", &CContactListBar::MessageHistory,
            can(ContactCommand::MessageHistory));
        add(*menu, "Chat History...", &CContactListBar::ChatHistory,
            can(ContactCommand::ChatHistory));
        add(*menu, "FileTransfer History...", &CContactListBar::FileTransferHistory,
            can(ContactCommand::FileTransferHistory));
        menu->addSeparator();
    }
    AddHeading(*menu, QStringLiteral("User"));
    add(*menu, "Add User...", &CContactListBar::AddUser,
        shape.addUserEnabled && can(ContactCommand::UserWizard));
    if (shape.contactCommands) {
        add(*menu, "Delete User", &CContactListBar::DeleteUser)
            ->setIcon(m_pictures.Menu(MenuPicture::DeleteUser));
        add(*menu, "Rename User", &CContactListBar::RenameUser);
        add(*menu, "Info...", &CContactListBar::Info, can(ContactCommand::UserInfo));
        QAction* floating = add(*menu, "Floating on", &CContactListBar::ToggleFloating);
        floating->setCheckable(true);
        floating->setChecked(Floating(*contact) != nullptr);
        QMenu* icons = menu->addMenu(QStringLiteral("User Icons"));
        icons->setObjectName(QStringLiteral("userIconsMenu"));
        add(*icons, "Update User Icons", &CContactListBar::UpdateUserIcons,
            can(ContactCommand::UpdateUserIcons));
        add(*icons, "Customize User Icons...", &CContactListBar::CustomizeUserIcons,
            can(ContactCommand::CustomizeUserIcons));
        add(*icons, "Reset to Default", &CContactListBar::ResetUserIcons,
            can(ContactCommand::ResetUserIcons));
    }
    QAction* large = add(*menu, "Large Icons", &CContactListBar::ToggleLargeIcons);
    large->setCheckable(true);
    large->setChecked(m_largeIcons);
    if (shape.groupCommands) {
        menu->addSeparator();
        AddHeading(*menu, QStringLiteral("Group"));
        add(*menu, "Add Group...", &CContactListBar::AddGroup);
        add(*menu, "Delete Group", &CContactListBar::DeleteGroup, shape.groupChangesEnabled);
        add(*menu, "Rename Group...", &CContactListBar::RenameGroup, shape.groupChangesEnabled);
    }
    menu->addSeparator();
    QAction* refresh = add(*menu, "Refresh User Status", &CContactListBar::RefreshUserStatus,
                           shape.refreshEnabled);
    refresh->setIcon(m_pictures.Menu(MenuPicture::Refresh));
    refresh->setShortcut(QKeySequence(Qt::Key_F5));
    refresh->setShortcutContext(Qt::WidgetShortcut);  // F5 itself is the bar's shortcut
    return menu;
}

std::unique_ptr<QMenu> CContactListBar::BuildContactMenu(const std::string& contactId) {
    const auto position = PositionOf(contactId);
    if (!position) {
        return nullptr;
    }
    SelectContact(contactId);
    return BuildContextMenu(ItemRect(position->item).center());
}

void CContactListBar::contextMenuEvent(QContextMenuEvent* event) {
    QPoint point = event->pos();
    if (event->reason() == QContextMenuEvent::Keyboard && m_selected != nullptr) {
        // The menu key: the menu of the selected contact, at its item.
        if (const auto position = PositionOf(m_selected->id);
            position && position->group == m_list.OpenGroup()) {
            point = ItemRect(position->item).center();
        }
    }
    auto menu = BuildContextMenu(point);
    menu->exec(mapToGlobal(point));
}

// --- contact commands ---

void CContactListBar::SendMessageTo() {
    if (auto id = MenuContact()) {
        m_host.OpenSendMessage(*id);
    }
}

void CContactListBar::Chat() {
    if (auto id = MenuContact()) {
        m_host.OpenChat(*id);
    }
}

void CContactListBar::FileTransfer() {
    if (auto id = MenuContact()) {
        m_host.OpenFileTransfer(*id);
    }
}

void CContactListBar::Email() {
    const auto id = MenuContact();
    if (!id) {
        return;
    }
    const std::string nickname = EntryOf(*id)->nickname;
    const data::ContactCard card = data::ContactListStore(m_list.LoadedAccount()).ReadCard(*id);
    if (card.email.empty()) {
        ShowBox(FormatText(Text::EmailUnavailable, {nickname}));
        return;
    }
    const auto target = MailTarget(card.email);
    if (!target) {
        ShowBox(FormatText(Text::UnsafeLink, {card.email}));
        return;
    }
    QDesktopServices::openUrl(QUrl(QString::fromStdString(*target), QUrl::TolerantMode));
}

void CContactListBar::HomePage() {
    const auto id = MenuContact();
    if (!id) {
        return;
    }
    const std::string nickname = EntryOf(*id)->nickname;
    const auto profile = data::ContactListStore(m_list.LoadedAccount()).ReadProfile(*id);
    const std::string page = profile ? profile->homePage : std::string();
    if (page.empty()) {
        ShowBox(FormatText(Text::HomePageUnavailable, {nickname}));
        return;
    }
    const auto target = WebTarget(page);
    if (!target) {
        ShowBox(FormatText(Text::UnsafeLink, {page}));
        return;
    }
    QDesktopServices::openUrl(QUrl(QString::fromStdString(*target), QUrl::TolerantMode));
}

void CContactListBar::MessageHistory() {
    if (auto id = MenuContact()) {
        m_host.OpenMessageHistory(*id);
    }
}

void CContactListBar::ChatHistory() {
    if (auto id = MenuContact()) {
        m_host.OpenChatHistory(*id);
    }
}

void CContactListBar::FileTransferHistory() {
    if (auto id = MenuContact()) {
        m_host.OpenFileTransferHistory(*id);
    }
}

void CContactListBar::Info() {
    if (auto id = MenuContact()) {
        m_host.OpenUserInfo(*id);
    }
}

void CContactListBar::UpdateUserIcons() {
    if (auto id = MenuContact()) {
        m_host.UpdateUserIcons(*id);
    }
}

void CContactListBar::CustomizeUserIcons() {
    if (auto id = MenuContact()) {
        m_host.CustomizeUserIcons(*id);
    }
}

void CContactListBar::ResetUserIcons() {
    if (auto id = MenuContact()) {
        m_host.ResetUserIcons(*id);
    }
}

void CContactListBar::AddUser() {
    if (m_menuGroup < 0 || m_menuGroup >= m_list.GroupCount()) {
        return;
    }
    const std::string name = m_list.Group(m_menuGroup).name;
    if (data::IsStrangersGroup(name)) {
        ShowBox(std::string(data::ContactListText::CannotAddUserToGroup));
        return;
    }
    m_host.OpenUserWizard(name);
}

void CContactListBar::DeleteUser() {
    const auto id = MenuContact();
    if (!id) {
        return;
    }
    if (!AskYesNo(FormatText(Text::ConfirmDeleteUser, {EntryOf(*id)->nickname}))) {
        return;
    }
    const auto position = PositionOf(*id);
    if (!position) {
        return;
    }
    CloseFloating(*id);
    const data::ContactEntry* leaving = EntryOf(*id);
    const CommandResult result = m_commands.DeleteUser(*position);
    if (!result.ok) {
        ShowBox(result.text);
        return;
    }
    m_states.erase(leaving);
    AfterStructureChange();
    const data::ContactGroup& group = m_list.Group(position->group);
    const int left = static_cast<int>(group.contacts.size());
    m_selected =
        left == 0
            ? nullptr
            : group.contacts[static_cast<std::size_t>(std::min(position->item, left - 1))].get();
    update(ListArea());
}

void CContactListBar::RenameUser() {
    const auto id = MenuContact();
    if (!id) {
        return;
    }
    const auto typed = AskNickname(m_host.DialogParent(), EntryOf(*id)->nickname);
    const auto position = PositionOf(*id);
    if (!typed || !position) {
        return;
    }
    const CommandResult result = m_commands.RenameUser(*position, *typed);
    if (!result.ok) {
        ShowBox(result.text);
        return;
    }
    SetNickname(*id, EntryOf(*id)->nickname);
}

void CContactListBar::ToggleFloating() {
    const auto id = MenuContact();
    if (!id) {
        return;
    }
    if (Floating(*id) != nullptr) {
        CloseFloating(*id);
    } else {
        ShowFloating(*id);
    }
}

void CContactListBar::RefreshUserStatus() {
    if (m_list.GroupCount() > 0 && m_host.IsConnected()) {
        WakeStatusPoll();
    }
}

// --- group commands ---

namespace {

bool IsNameRefusal(const std::string& text) {
    return text == data::ContactListText::GroupAlreadyExists || text == Text::GroupNameEmpty ||
           text == Text::GroupNameCharacters || text == Text::GroupNameTooLong ||
           text == Text::GroupNameBuiltIn;
}

}  // namespace

void CContactListBar::AddGroup() {
    std::string typed;
    for (;;) {
        const auto name = AskGroupName(m_host.DialogParent(), QStringLiteral("Add Group"), typed);
        if (!name) {
            return;
        }
        const CommandResult result = m_commands.AddGroup(*name);
        if (result.ok) {
            break;
        }
        ShowBox(result.text);
        if (!IsNameRefusal(result.text)) {
            return;
        }
        typed = *name;  // back to the name field
    }
    m_firstItem = 0;
    Relayout();
}

void CContactListBar::DeleteGroup() {
    if (m_menuGroup < 0 || m_menuGroup >= m_list.GroupCount()) {
        return;
    }
    const std::string name = m_list.Group(m_menuGroup).name;
    if (data::IsStrangersGroup(name)) {
        ShowBox(std::string(data::ContactListText::CannotDeleteBuiltInGroup));
        return;
    }
    const std::vector<int> targets = m_commands.MoveTargets(m_menuGroup);
    std::vector<std::string> names;
    for (int target : targets) {
        names.push_back(m_list.Group(target).name);
    }
    const auto choice = AskDeleteGroup(m_host.DialogParent(), name, names);
    if (!choice) {
        return;
    }
    const int group = m_list.FindGroup(name);
    std::optional<int> moveTo;
    if (*choice >= 0) {
        moveTo = m_list.FindGroup(names[static_cast<std::size_t>(*choice)]);
    }
    // The members that leave close their floating windows with their drawing state, in
    // AfterStructureChange (the command holds the ListMutex meanwhile).
    const CommandResult result = m_commands.DeleteGroup(group, moveTo);
    AfterStructureChange();
    if (!result.ok) {
        ShowBox(result.text);
    }
}

void CContactListBar::RenameGroup() {
    if (m_menuGroup < 0 || m_menuGroup >= m_list.GroupCount()) {
        return;
    }
    const std::string old = m_list.Group(m_menuGroup).name;
    if (data::IsStrangersGroup(old)) {
        ShowBox(std::string(data::ContactListText::CannotRenameBuiltInGroup));
        return;
    }
    std::string typed = old;
    for (;;) {
        const auto name =
            AskGroupName(m_host.DialogParent(), QStringLiteral("Rename Group"), typed);
        if (!name) {
            return;
        }
        const int group = m_list.FindGroup(old);
        const CommandResult result = m_commands.RenameGroup(group, *name);
        if (result.ok) {
            break;
        }
        ShowBox(result.text);
        if (!IsNameRefusal(result.text)) {
            return;
        }
        typed = *name;
    }
    Relayout();
}

}  // namespace talvorine::client::ui::contacts
