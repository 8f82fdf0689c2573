#include "talvorine/client/ui/chat/dlg_chat_history.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/common/contact_header.h"
#include "talvorine/client/ui/common/history_rows.h"
#include "talvorine/client/ui/common/marks.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/common/window_memory.h"

namespace talvorine::client::ui {

CDlgChatHistory::CDlgChatHistory(ChatHistory history, QWidget* parent)
    : QDialog(parent), m_history(std::move(history)) {
    setObjectName(QStringLiteral("CDlgChatHistory"));
    setWindowTitle(ToQString(ChatHistoryText::Caption));
    setAttribute(Qt::WA_DeleteOnClose);
    setSizeGripEnabled(true);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("chatList"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setHeaderLabels({QStringLiteral("From"), QStringLiteral("To"),
                             QStringLiteral("Request"), QStringLiteral("Accepted"),
                             QStringLiteral("Time")});
    m_list->setAccessibleName(QStringLiteral("Chat history"));

    m_delete = new QPushButton(QStringLiteral("&Delete"), this);
    m_delete->setObjectName(QStringLiteral("delete"));
    m_details = new QPushButton(QStringLiteral("&Show Details"), this);
    m_details->setObjectName(QStringLiteral("showDetails"));
    m_deleteAll = new QPushButton(QStringLiteral("Delete &All"), this);
    m_deleteAll->setObjectName(QStringLiteral("deleteAll"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_delete);
    buttons->addWidget(m_details);
    buttons->addStretch(1);
    buttons->addWidget(m_deleteAll);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ContactHeader(m_history.PeerId(), m_history.PeerNickname(), this));
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    connect(m_delete, &QPushButton::clicked, this, &CDlgChatHistory::DeleteSelected);
    connect(m_details, &QPushButton::clicked, this, &CDlgChatHistory::ShowDetails);
    connect(m_deleteAll, &QPushButton::clicked, this, &CDlgChatHistory::DeleteAll);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &CDlgChatHistory::UpdateButtons);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { ShowDetails(); });

    resize(600, 340);
    RestoreColumnWidths(*m_list, data::WindowSection::ChatHistory);
    RestoreWindowPlacement(*this, data::WindowSection::ChatHistory);
    m_history.Refill();
    Fill();
    FitUnsizedColumns(*m_list, data::WindowSection::ChatHistory);
}

CDlgChatHistory::~CDlgChatHistory() {
    SaveColumnWidths(*m_list, data::WindowSection::ChatHistory);
    SaveWindowPlacement(*this, data::WindowSection::ChatHistory);
}

void CDlgChatHistory::Fill() {
    m_list->clear();
    const QIcon mark = NotAcceptedMark();
    for (const ChatHistoryRow& row : m_history.Rows()) {
        auto* item = new QTreeWidgetItem(
            m_list, {ToQString(row.from), ToQString(row.to), ToQString(row.request),
                     ToQString(row.accepted ? ChatHistoryText::Yes : ChatHistoryText::No),
                     ToQString(row.time)});
        if (!row.accepted) {
            item->setIcon(0, mark);
        }
    }
    UpdateButtons();
}

int CDlgChatHistory::SelectedRow() const {
    return ui::SelectedRow(*m_list);
}

void CDlgChatHistory::UpdateButtons() {
    const bool selected = SelectedRow() >= 0;
    m_delete->setEnabled(selected);
    m_details->setEnabled(selected);
    m_deleteAll->setEnabled(m_list->topLevelItemCount() > 0);
}

void CDlgChatHistory::DeleteSelected() {
    if (DeleteSelectedListRow(this, *m_list,
                              [this](std::size_t row) { return m_history.Delete(row); })) {
        UpdateButtons();
    }
}

void CDlgChatHistory::DeleteAll() {
    if (!AskYesNo(this, ToQString(ChatHistoryText::ConfirmDeleteAll))) {
        return;
    }
    m_history.DeleteAll();
    Fill();
}

void CDlgChatHistory::ShowDetails() {
    const int row = SelectedRow();
    if (row < 0) {
        QApplication::beep();
        return;
    }
    CDlgChatDetails details(m_history, static_cast<std::size_t>(row), this);
    details.exec();
    // Stepping in the details moves the list's selection with it.
    if (QTreeWidgetItem* item = m_list->topLevelItem(static_cast<int>(details.Row()))) {
        m_list->setCurrentItem(item);
    }
}

CDlgChatDetails::CDlgChatDetails(const ChatHistory& history, std::size_t row, QWidget* parent)
    : QDialog(parent), m_history(history) {
    setObjectName(QStringLiteral("CDlgChatDetails"));
    setWindowTitle(ToQString(ChatHistoryText::DetailsCaption));

    auto* form = new QFormLayout;
    auto* id = new QLineEdit(ToQString(history.PeerId()), this);
    id->setReadOnly(true);
    id->setObjectName(QStringLiteral("id"));
    auto* nickname = new QLineEdit(ToQString(history.PeerNickname()), this);
    nickname->setReadOnly(true);
    nickname->setObjectName(QStringLiteral("nickname"));
    m_type = new QLineEdit(this);
    m_type->setReadOnly(true);
    m_type->setObjectName(QStringLiteral("type"));
    m_dateTime = new QLineEdit(this);
    m_dateTime->setReadOnly(true);
    m_dateTime->setObjectName(QStringLiteral("dateTime"));
    form->addRow(QStringLiteral("ID:"), id);
    form->addRow(QStringLiteral("Nickname:"), nickname);
    form->addRow(QStringLiteral("Type:"), m_type);
    form->addRow(QStringLiteral("Date/time:"), m_dateTime);

    auto* statusLabel = new QLabel(QStringLiteral("Status:"), this);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    form->addRow(statusLabel, m_status);

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("text"));
    m_text->setReadOnly(true);
    m_text->setAccessibleName(QStringLiteral("Status"));

    m_previous = new QPushButton(QStringLiteral("<< Previous"), this);
    m_previous->setObjectName(QStringLiteral("previous"));
    m_next = new QPushButton(QStringLiteral("Next >>"), this);
    m_next->setObjectName(QStringLiteral("next"));
    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    close->setObjectName(QStringLiteral("close"));
    close->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_previous);
    buttons->addWidget(m_next);
    buttons->addStretch(1);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_text, 1);
    layout->addLayout(buttons);

    connect(m_previous, &QPushButton::clicked, this, &CDlgChatDetails::Previous);
    connect(m_next, &QPushButton::clicked, this, &CDlgChatDetails::Next);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    resize(460, 400);
    Show(row);
}

void CDlgChatDetails::Previous() {
    if (StepsAt(m_row, m_history.Rows().size()).previous) {
        Show(m_row - 1);
    }
}

void CDlgChatDetails::Next() {
    if (StepsAt(m_row, m_history.Rows().size()).next) {
        Show(m_row + 1);
    }
}

void CDlgChatDetails::Show(std::size_t row) {
    m_row = row;
    const ChatDetails details = m_history.Details(row);
    m_type->setText(ToQString(details.type));
    m_dateTime->setText(ToQString(details.dateTime));
    m_status->setText(ToQString(details.status));
    QString text = ToQString(details.text);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_text->setPlainText(text);
    const DetailsStep steps = StepsAt(row, m_history.Rows().size());
    m_previous->setEnabled(steps.previous);
    m_next->setEnabled(steps.next);
}

}  // namespace talvorine::client::ui
