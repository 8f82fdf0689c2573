#include "talvorine/client/ui/transfer/dlg_file_transfer_history.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/common/contact_header.h"
#include "talvorine/client/ui/common/history_rows.h"
#include "talvorine/client/ui/common/marks.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/common/window_memory.h"
#include "talvorine/client/ui/transfer/open_path.h"

namespace talvorine::client::ui {

namespace {

constexpr int SizeColumn = 3;

}  // namespace

CDlgFileTransferHistory::CDlgFileTransferHistory(TransferHistory history, QWidget* parent,
                                                 std::function<bool(const QUrl&)> openUrl)
    : QDialog(parent), m_history(std::move(history)), m_openUrl(std::move(openUrl)) {
    if (!m_openUrl) {
        m_openUrl = DesktopOpener();
    }
    setObjectName(QStringLiteral("CDlgFileTransferHistory"));
    setWindowTitle(ToQString(TransferHistoryText::Caption));
    setAttribute(Qt::WA_DeleteOnClose);
    setSizeGripEnabled(true);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("transferList"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setHeaderLabels({QStringLiteral("From"), QStringLiteral("To"), QStringLiteral("Name"),
                             QStringLiteral("Size"), QStringLiteral("Description"),
                             QStringLiteral("Time"), QStringLiteral("Status")});
    m_list->headerItem()->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    m_list->setAccessibleName(QStringLiteral("File transfer history"));

    m_delete = new QPushButton(QStringLiteral("&Delete"), this);
    m_delete->setObjectName(QStringLiteral("delete"));
    m_deleteAll = new QPushButton(QStringLiteral("Delete &All"), this);
    m_deleteAll->setObjectName(QStringLiteral("deleteAll"));
    m_open = new QPushButton(QStringLiteral("&Open"), this);
    m_open->setObjectName(QStringLiteral("open"));
    m_open->setToolTip(ToQString(TransferHistoryText::OpenTip));
    auto* filter = new QPushButton(QStringLiteral("&Filter"), this);
    filter->setObjectName(QStringLiteral("filter"));

    m_openMenu = new QMenu(m_open);
    m_openMenu->setObjectName(QStringLiteral("openMenu"));
    m_openFile = m_openMenu->addAction(ToQString(TransferHistoryText::OpenReceivedFile));
    m_openFolder = m_openMenu->addAction(ToQString(TransferHistoryText::OpenFolder));
    m_open->setMenu(m_openMenu);
    connect(m_openMenu, &QMenu::aboutToShow, this, &CDlgFileTransferHistory::PrepareOpenMenu);
    connect(m_openFile, &QAction::triggered, this, &CDlgFileTransferHistory::OpenFile);
    connect(m_openFolder, &QAction::triggered, this, &CDlgFileTransferHistory::OpenFolder);

    const data::WindowSettings settings(data::WindowSection::FileTransferHistory);
    auto* filterMenu = new QMenu(filter);
    filterMenu->setObjectName(QStringLiteral("filterMenu"));
    m_showOutgoing = filterMenu->addAction(ToQString(TransferHistoryText::ShowOutgoing));
    m_showOutgoing->setCheckable(true);
    m_showOutgoing->setChecked(settings.GetBool("Show Outgoing"));
    m_showIncoming = filterMenu->addAction(ToQString(TransferHistoryText::ShowIncoming));
    m_showIncoming->setCheckable(true);
    m_showIncoming->setChecked(settings.GetBool("Show Incoming"));
    filter->setMenu(filterMenu);
    const auto refilter = [this] {
        SetFilter(m_showOutgoing->isChecked(), m_showIncoming->isChecked());
    };
    connect(m_showOutgoing, &QAction::triggered, this, refilter);
    connect(m_showIncoming, &QAction::triggered, this, refilter);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_delete);
    buttons->addWidget(m_deleteAll);
    buttons->addStretch(1);
    buttons->addWidget(m_open);
    buttons->addWidget(filter);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ContactHeader(m_history.PeerId(), m_history.PeerNickname(), this));
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    connect(m_delete, &QPushButton::clicked, this, &CDlgFileTransferHistory::DeleteSelected);
    connect(m_deleteAll, &QPushButton::clicked, this, &CDlgFileTransferHistory::DeleteAll);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this,
            &CDlgFileTransferHistory::UpdateButtons);

    resize(820, 340);
    RestoreColumnWidths(*m_list, data::WindowSection::FileTransferHistory);
    RestoreWindowPlacement(*this, data::WindowSection::FileTransferHistory);
    m_history.Refill(m_showOutgoing->isChecked(), m_showIncoming->isChecked());
    Fill();
    FitUnsizedColumns(*m_list, data::WindowSection::FileTransferHistory);
}

CDlgFileTransferHistory::~CDlgFileTransferHistory() {
    const data::WindowSettings settings(data::WindowSection::FileTransferHistory);
    settings.SetBool("Show Outgoing", m_showOutgoing->isChecked());
    settings.SetBool("Show Incoming", m_showIncoming->isChecked());
    SaveColumnWidths(*m_list, data::WindowSection::FileTransferHistory);
    SaveWindowPlacement(*this, data::WindowSection::FileTransferHistory);
}

void CDlgFileTransferHistory::Fill() {
    m_list->clear();
    const QIcon mark = NotAcceptedMark();
    for (const TransferHistoryRow& row : m_history.Rows()) {
        const data::TransferRecord& record = row.record;
        auto* item = new QTreeWidgetItem(
            m_list, {ToQString(row.from), ToQString(row.to), ToQString(record.NameCell()),
                     ToQString(record.SizeCell()), ToQString(record.description),
                     ToQString(record.time), ToQString(record.StatusCell())});
        item->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        if (!record.accepted) {
            item->setIcon(0, mark);
        }
    }
    UpdateButtons();
}

int CDlgFileTransferHistory::SelectedRow() const {
    return ui::SelectedRow(*m_list);
}

void CDlgFileTransferHistory::UpdateButtons() {
    const bool selected = SelectedRow() >= 0;
    m_delete->setEnabled(selected);
    m_open->setEnabled(selected);
    m_deleteAll->setEnabled(m_list->topLevelItemCount() > 0);
}

void CDlgFileTransferHistory::SetFilter(bool showOutgoing, bool showIncoming) {
    m_showOutgoing->setChecked(showOutgoing);
    m_showIncoming->setChecked(showIncoming);
    m_history.Refill(showOutgoing, showIncoming);
    Fill();
}

void CDlgFileTransferHistory::DeleteSelected() {
    if (DeleteSelectedListRow(this, *m_list,
                              [this](std::size_t row) { return m_history.Delete(row); })) {
        UpdateButtons();
    }
}

void CDlgFileTransferHistory::DeleteAll() {
    if (!AskYesNo(this, ToQString(TransferHistoryText::ConfirmDeleteAll))) {
        return;
    }
    m_history.DeleteAll();
    Fill();
}

void CDlgFileTransferHistory::PrepareOpenMenu() {
    const int row = SelectedRow();
    const TransferOpenTargets targets =
        m_history.OpenTargets(row < 0 ? m_history.Rows().size() : static_cast<std::size_t>(row));
    m_openFile->setText(targets.fileItem.empty() ? ToQString(TransferHistoryText::OpenReceivedFile)
                                                 : ToQString(targets.fileItem));
    m_openFile->setEnabled(targets.fileEnabled);
    m_openFolder->setEnabled(targets.folderEnabled);
}

void CDlgFileTransferHistory::OpenFile() {
    const int row = SelectedRow();
    if (row < 0) {
        return;
    }
    const TransferHistoryRow& shown = m_history.Rows()[static_cast<std::size_t>(row)];
    const TransferOpenTargets targets = m_history.OpenTargets(static_cast<std::size_t>(row));
    if (!targets.fileEnabled) {
        return;
    }
    const bool received = shown.record.type == static_cast<int>(data::TransferType::Incoming);
    OpenPath(targets.file, received && IsRunnableFile(targets.file));
}

void CDlgFileTransferHistory::OpenFolder() {
    const int row = SelectedRow();
    if (row < 0) {
        return;
    }
    const TransferOpenTargets targets = m_history.OpenTargets(static_cast<std::size_t>(row));
    if (targets.folderEnabled) {
        OpenPath(targets.folder, false);
    }
}

void CDlgFileTransferHistory::OpenPath(const std::filesystem::path& path, bool askFirst) {
    OpenLocalPath(this, path, askFirst, m_openUrl);
}

}  // namespace talvorine::client::ui
