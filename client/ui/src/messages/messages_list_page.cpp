#include "talvorine/client/ui/messages/messages_list_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "talvorine/client/ui/common/contact_header.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/common/window_memory.h"
#include "talvorine/client/ui/icons/pictures.h"
#include "talvorine/client/ui/messages/messages_pane.h"
#include "talvorine/client/ui/rtf/rtf_codec.h"

namespace talvorine::client::ui {

namespace {

constexpr std::string_view SplitterPosValue = "Splitter Pos";
constexpr std::string_view WordWrapValue = "Word Wrap";

void ShowBox(QWidget* parent, const BoxText& box) {
    switch (box.icon) {
        case BoxIcon::Information:
            ShowInformation(parent, ToQString(box.text));
            break;
        case BoxIcon::Warning:
            ShowWarning(parent, ToQString(box.text));
            break;
        case BoxIcon::Error:
            ShowError(parent, ToQString(box.text));
            break;
    }
}

QPushButton* MakeButton(QWidget* parent, const char* text, const char* name) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

QAction* AddAction(QMenu& menu, const char* text, const char* name, bool enabled,
                   std::function<void()> action) {
    QAction* item = menu.addAction(QString::fromLatin1(text));
    item->setObjectName(QString::fromLatin1(name));
    item->setEnabled(enabled);
    QObject::connect(item, &QAction::triggered, &menu, std::move(action));
    return item;
}

}  // namespace

CMessagesListPage::CMessagesListPage(MessagesPageKind kind, const MessagesWindowServices& services,
                                     QWidget* parent)
    : QWidget(parent),
      m_services(services),
      m_page(services.accountId, services.contactId, kind, services.historyLock,
             services.unread.get()),
      m_section(kind == MessagesPageKind::Received ? data::WindowSection::ReceivedMessageHistory
                                                   : data::WindowSection::SentMessageHistory) {
    const bool received = kind == MessagesPageKind::Received;
    setObjectName(received ? QStringLiteral("receivedPage") : QStringLiteral("sentPage"));
    const data::WindowSettings stored(m_section);

    if (received) {
        m_reply = MakeButton(this, "&Reply (ALT+R)", "reply");
        m_reply->setEnabled(static_cast<bool>(m_services.reply));
        connect(m_reply, &QPushButton::clicked, this, &CMessagesListPage::Reply);
    }
    m_delete = MakeButton(this, "&Delete", "delete");
    m_deleteAll = MakeButton(this, "Delete &All", "deleteAll");
    m_compact = MakeButton(this, "&Compact", "compact");
    m_wordWrap = new QCheckBox(QStringLiteral("&Word Wrap"), this);
    m_wordWrap->setObjectName(QStringLiteral("wordWrap"));
    m_wordWrap->setChecked(stored.GetBool(WordWrapValue));

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("messageList"));
    m_list->setAccessibleName(received ? QStringLiteral("Received messages")
                                       : QStringLiteral("Sent messages"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setHeaderLabels(
        {QStringLiteral("Brief"), received ? QStringLiteral("Time") : QStringLiteral("Date")});

    m_pane = new QTextBrowser(this);
    m_pane->setObjectName(QStringLiteral("messageText"));
    m_pane->setAccessibleName(QStringLiteral("Message"));
    m_pane->setReadOnly(true);
    m_pane->setOpenLinks(false);
    m_pane->setOpenExternalLinks(false);
    m_pane->setContextMenuPolicy(Qt::CustomContextMenu);
    QFont paneFont(QStringLiteral("Courier New"), 9);
    paneFont.setStyleHint(QFont::TypeWriter);
    m_pane->document()->setDefaultFont(paneFont);
    m_pane->setLineWrapMode(m_wordWrap->isChecked() ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);

    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(m_list);
    m_splitter->addWidget(m_pane);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({static_cast<int>(stored.GetDword(SplitterPosValue)), 200});

    m_markTimer = new QTimer(this);
    m_markTimer->setObjectName(QStringLiteral("markAsReadTimer"));
    m_markTimer->setSingleShot(true);

    auto* buttons = new QHBoxLayout;
    if (m_reply != nullptr) {
        buttons->addWidget(m_reply);
    }
    buttons->addWidget(m_delete);
    buttons->addWidget(m_deleteAll);
    buttons->addWidget(m_compact);
    buttons->addStretch(1);
    buttons->addWidget(m_wordWrap);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ContactHeader(services.contactId, services.nickname, this));
    layout->addLayout(buttons);
    layout->addWidget(m_splitter, 1);

    RestoreColumnWidths(*m_list, m_section);

    connect(m_delete, &QPushButton::clicked, this, &CMessagesListPage::DeleteSelected);
    connect(m_deleteAll, &QPushButton::clicked, this, &CMessagesListPage::DeleteAll);
    connect(m_compact, &QPushButton::clicked, this, &CMessagesListPage::Compact);
    connect(m_wordWrap, &QCheckBox::toggled, this, [this](bool on) {
        m_pane->setLineWrapMode(on ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
    });
    connect(m_list, &QTreeWidget::currentItemChanged, this, &CMessagesListPage::ShowCurrent);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &CMessagesListPage::UpdateButtons);
    connect(m_list->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &CMessagesListPage::FetchMoreIfAtEnd);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        BuildListMenu()->exec(m_list->viewport()->mapToGlobal(at));
    });
    connect(m_pane, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        BuildPaneMenu()->exec(m_pane->viewport()->mapToGlobal(at));
    });
    connect(m_pane, &QTextBrowser::anchorClicked, this, &CMessagesListPage::LinkClicked);
    connect(m_markTimer, &QTimer::timeout, this, &CMessagesListPage::MarkCurrentRead);
    UpdateButtons();
}

CMessagesListPage::~CMessagesListPage() {
    m_markTimer->stop();
    SaveLayout();
}

void CMessagesListPage::SaveLayout() {
    // A page never shown keeps the values it was built with.
    if (!m_filled) {
        return;
    }
    const data::WindowSettings stored(m_section);
    const QList<int> sizes = m_splitter->sizes();
    if (!sizes.isEmpty() && sizes.front() > 0) {
        stored.SetDword(SplitterPosValue, static_cast<std::uint32_t>(sizes.front()));
    }
    SaveColumnWidths(*m_list, m_section);
    stored.SetBool(WordWrapValue, m_wordWrap->isChecked());
}

bool CMessagesListPage::AskSkip(std::uint32_t record) {
    return AskYesNo(this, ToQString(FormatMessagesText(MessagesText::ReadFailedQuestion,
                                                       {std::to_string(record)})));
}

void CMessagesListPage::Fill() {
    m_filled = true;
    m_markTimer->stop();
    m_list->clear();
    const auto error = m_page.Fill([this](std::uint32_t record) { return AskSkip(record); });
    AddItems(0, m_page.Rows().size());
    if (error) {
        ShowError(this, ToQString(*error));
    }
    FitUnsizedColumns(*m_list, m_section);
    SelectRow(0);
    UpdateButtons();
}

void CMessagesListPage::AddItems(std::size_t from, std::size_t to) {
    QList<QTreeWidgetItem*> items;
    for (std::size_t row = from; row < to; ++row) {
        const MessageRow& message = m_page.Rows()[row];
        items.append(new QTreeWidgetItem({ToQString(message.brief), ToQString(message.timeText)}));
    }
    m_list->insertTopLevelItems(static_cast<int>(from), items);
    for (std::size_t row = from; row < to; ++row) {
        UpdateItem(row);
    }
}

void CMessagesListPage::UpdateItem(std::size_t row) {
    QTreeWidgetItem* item = m_list->topLevelItem(static_cast<int>(row));
    if (item == nullptr || row >= m_page.Rows().size()) {
        return;
    }
    const bool unread = m_page.IsReceived() && !m_page.Rows()[row].read;
    item->setIcon(0, unread ? TrayIconPicture(TrayPicture::Message1) : QIcon());
    item->setData(0, Qt::AccessibleDescriptionRole, unread ? QStringLiteral("Unread") : QString());
}

void CMessagesListPage::FetchMoreIfAtEnd() {
    QScrollBar* bar = m_list->verticalScrollBar();
    if (!m_page.CanFetchMore() || bar->value() < bar->maximum()) {
        return;
    }
    const std::size_t before = m_page.Rows().size();
    const auto error = m_page.FetchMore([this](std::uint32_t record) { return AskSkip(record); });
    AddItems(before, m_page.Rows().size());
    if (error) {
        ShowError(this, ToQString(*error));
    }
}

void CMessagesListPage::MessageArrived() {
    if (!m_filled) {
        return;  // the page reads the store when it is first shown
    }
    const MessagesPage::Arrivals arrivals =
        m_page.TakeArrivals([this](std::uint32_t record) { return AskSkip(record); });
    if (arrivals.relisted) {
        m_list->clear();
        AddItems(0, m_page.Rows().size());
        SelectRow(0);
    } else if (arrivals.added > 0) {
        // The selection stays on the message the user is reading.
        const QSignalBlocker block(m_list);
        AddItems(0, arrivals.added);
    } else {
        return;
    }
    if (m_list->currentItem() == nullptr) {
        SelectRow(0);
    }
    UpdateButtons();
}

int CMessagesListPage::CurrentRow() const {
    QTreeWidgetItem* item = m_list->currentItem();
    return item == nullptr ? -1 : m_list->indexOfTopLevelItem(item);
}

std::vector<std::size_t> CMessagesListPage::SelectedRows() const {
    std::vector<std::size_t> rows;
    for (QTreeWidgetItem* item : m_list->selectedItems()) {
        rows.push_back(static_cast<std::size_t>(m_list->indexOfTopLevelItem(item)));
    }
    return rows;
}

void CMessagesListPage::SelectRow(int row) {
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    if (item == nullptr) {
        m_list->setCurrentItem(nullptr);
        ShowCurrent();
        return;
    }
    const bool wasCurrent = m_list->currentItem() == item;
    m_list->setCurrentItem(item, 0,
                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (wasCurrent) {
        ShowCurrent();  // setCurrentItem does not signal when the item was current already
    }
}

void CMessagesListPage::ShowCurrent() {
    m_markTimer->stop();
    m_shown.reset();
    const int row = CurrentRow();
    if (row < 0) {
        m_pane->clear();
        return;
    }
    MessagesPage::Shown shown = m_page.Read(static_cast<std::size_t>(row));
    UpdateItem(static_cast<std::size_t>(row));
    if (!shown.message) {
        m_pane->clear();
        if (!shown.error.empty()) {
            ShowWarning(this, ToQString(shown.error));
        }
        return;
    }
    m_shown = std::move(shown.message);
    ShowMessageText(*m_pane->document(), *m_shown);
    if (shown.unread && m_page.IsReceived()) {
        const data::ClientSettings settings =
            m_services.settings ? m_services.settings() : data::ClientSettings::Defaults();
        if (const auto delay = MarkAsReadDelay(settings.markAsRead, settings.markAsReadInterval)) {
            m_markTimer->start(*delay);
        }
    }
}

void CMessagesListPage::MarkCurrentRead() {
    const int row = CurrentRow();
    if (row < 0 || m_page.Rows()[static_cast<std::size_t>(row)].read) {
        return;
    }
    if (const auto error = m_page.SetRead(static_cast<std::size_t>(row), true)) {
        ShowWarning(this, ToQString(*error));
    }
    UpdateItem(static_cast<std::size_t>(row));
}

void CMessagesListPage::MarkSelected(bool read) {
    m_markTimer->stop();
    for (const std::size_t row : SelectedRows()) {
        const auto error = m_page.SetRead(row, read);
        UpdateItem(row);
        if (error) {
            ShowWarning(this, ToQString(*error));
            return;
        }
    }
}

void CMessagesListPage::LinkClicked(const QUrl& url) {
    if (IsOpenableLink(url) && m_services.openLink) {
        m_services.openLink(url);
    } else {
        QApplication::beep();
    }
}

void CMessagesListPage::UpdateButtons() {
    const bool selected = !m_list->selectedItems().isEmpty();
    m_delete->setEnabled(selected);
    m_deleteAll->setEnabled(m_list->topLevelItemCount() > 0);
}

void CMessagesListPage::Reply() {
    if (!m_services.reply) {
        return;
    }
    MessageReply reply{m_services.contactId, m_services.nickname, {}, {}};
    if (m_shown) {
        reply.plainText = MessagePlainText(*m_shown);
        if (m_shown->richText) {
            reply.rtfText = m_shown->text;
        }
    }
    m_services.reply(reply);
    const data::ClientSettings settings =
        m_services.settings ? m_services.settings() : data::ClientSettings::Defaults();
    if (settings.closeViewerOnReply) {
        emit closeWanted();
    }
}

void CMessagesListPage::DeleteSelected() {
    const std::vector<std::size_t> rows = SelectedRows();
    if (rows.empty()) {
        return;
    }
    m_markTimer->stop();
    const MessagesPage::Deleted deleted = m_page.Delete(rows);
    {
        // The items go as their rows went; the rest of the list keeps its place.
        const QSignalBlocker block(m_list);
        for (const std::size_t row : deleted.removed) {
            delete m_list->takeTopLevelItem(static_cast<int>(row));
        }
    }
    if (deleted.error) {
        ShowWarning(this, ToQString(*deleted.error));
    }
    SelectRow(deleted.select);
    UpdateButtons();
}

void CMessagesListPage::DeleteAll() {
    const std::string_view question =
        m_page.IsReceived() ? MessagesText::ConfirmDeleteAll : MessagesText::ConfirmDeleteAllSent;
    if (!AskYesNo(this, ToQString(question))) {
        return;
    }
    m_markTimer->stop();
    if (const auto error = m_page.DeleteAll()) {
        ShowWarning(this, ToQString(*error));
        return;
    }
    m_list->clear();
    m_pane->clear();
    m_shown.reset();
    UpdateButtons();
}

void CMessagesListPage::Compact() {
    ShowBox(this, m_page.Compact());
}

void CMessagesListPage::CopyMessage() {
    if (m_pane->document()->isEmpty()) {
        return;
    }
    auto mime = std::make_unique<QMimeData>();
    mime->setText(m_pane->document()->toPlainText());
    mime->setHtml(m_pane->document()->toHtml());
    QApplication::clipboard()->setMimeData(mime.release());
}

std::unique_ptr<QMenu> CMessagesListPage::BuildListMenu() {
    auto menu = std::make_unique<QMenu>(this);
    menu->setObjectName(QStringLiteral("listMenu"));
    const std::vector<std::size_t> rows = SelectedRows();
    const bool selected = !rows.empty();
    if (m_page.IsReceived()) {
        AddAction(*menu, "&Reply", "replyItem", selected && m_services.reply, [this] { Reply(); });
    }
    AddAction(*menu, "&Delete", "deleteItem", selected, [this] { DeleteSelected(); });
    AddAction(*menu, "&Copy", "copyItem", selected, [this] { CopyMessage(); });
    if (m_page.IsReceived() && selected) {
        bool offerUnread = true;
        bool offerRead = true;
        if (rows.size() == 1) {
            std::string error;
            const auto read = m_page.IsRead(rows.front(), error);
            if (!read) {
                ShowWarning(this, ToQString(error));
                offerUnread = offerRead = false;
            } else {
                offerUnread = *read;
                offerRead = !*read;
            }
        }
        menu->addSeparator();
        if (offerUnread) {
            AddAction(*menu, "Mark as &Unread", "markUnreadItem", true,
                      [this] { MarkSelected(false); });
        }
        if (offerRead) {
            AddAction(*menu, "Mark as R&ead", "markReadItem", true, [this] { MarkSelected(true); });
        }
    }
    return menu;
}

std::unique_ptr<QMenu> CMessagesListPage::BuildPaneMenu() {
    auto menu = std::make_unique<QMenu>(this);
    menu->setObjectName(QStringLiteral("paneMenu"));
    AddAction(*menu, "&Copy", "copyTextItem", m_pane->textCursor().hasSelection(),
              [this] { m_pane->copy(); });
    return menu;
}

}  // namespace talvorine::client::ui
