#include "talvorine/mailpoll/ui/dlg_mail_list.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "talvorine/mailpoll/ui/column_sharing.h"
#include "talvorine/mailpoll/ui/message_box.h"

namespace talvorine::mailpoll::ui {

namespace {

enum Column { FromColumn, SubjectColumn, SizeColumn, DateColumn };
constexpr int NumberRole = Qt::UserRole;

void PumpEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QPushButton* NamedButton(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

}  // namespace

CDlgMailList::CDlgMailList(MailAccount account, std::function<void()> stopRetrieval,
                           QWidget* parent)
    : QDialog(parent),
      m_account(std::move(account)),
      m_stopRetrieval(std::move(stopRetrieval)),
      m_worker(*this, PumpEvents),
      m_caption(new QLabel(this)),
      m_list(new QTreeWidget(this)),
      m_deleteSelected(NamedButton(tr("&Delete"), "deleteSelected", this)),
      m_deleteAll(NamedButton(tr("Delete &All"), "deleteAll", this)),
      m_close(NamedButton(tr("&Close"), "close", this)) {
    setWindowTitle(QString::fromStdString(m_account.title));
    m_caption->setObjectName(QStringLiteral("caption"));
    m_list->setObjectName(QStringLiteral("mailList"));
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setHeaderLabels({tr("From"), tr("Subject"), tr("Size"), tr("Date")});
    m_list->setColumnWidth(FromColumn, 150);
    m_list->setColumnWidth(SubjectColumn, 150);
    // Size and Date as wide as their usual texts need in this font ("%.03f KB", a date with
    // its zone), never narrower than their classic widths.
    const auto fits = [this](const char* text, int atLeast) {
        return std::max(atLeast,
                        m_list->fontMetrics().horizontalAdvance(QString::fromLatin1(text)) + 16);
    };
    m_list->setColumnWidth(SizeColumn, fits("99999.999 KB", 50));
    m_list->setColumnWidth(DateColumn, fits("Wed, 28 Dec 2026 10:03:10 +0100", 140));
    m_list->headerItem()->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    new ColumnSharing(m_list, {FromColumn, SubjectColumn});

    connect(m_deleteSelected, &QPushButton::clicked, this, &CDlgMailList::DeleteSelected);
    connect(m_deleteAll, &QPushButton::clicked, this, &CDlgMailList::DeleteAll);
    connect(m_close, &QPushButton::clicked, this, [this] {
        if (m_worker.IsRunning()) {
            m_worker.Cancel();  // what is deleted so far is still committed
        } else {
            reject();
        }
    });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_deleteSelected);
    buttons->addWidget(m_deleteAll);
    buttons->addStretch();
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_caption);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
    // Room for every column at its starting width (and the list's frame and scroll bar).
    int columns = 0;
    for (int column = FromColumn; column <= DateColumn; ++column) {
        columns += m_list->columnWidth(column);
    }
    resize(std::max(540, columns + 60), 360);
    UpdateCaption();
}

CDlgMailList::~CDlgMailList() {
    m_worker.Stop();
}

QString CDlgMailList::ShownFrom(const QString& from) {
    if (from.size() >= 2 && from.startsWith(u'<') && from.endsWith(u'>') &&
        from.indexOf(u'>') == from.size() - 1) {
        return from.mid(1, from.size() - 2);
    }
    return from;
}

QString CDlgMailList::ShownSize(std::uint32_t bytes) {
    return QString::asprintf("%.03f KB", static_cast<double>(bytes) / 1024.0);
}

void CDlgMailList::SetMessageCount(std::uint32_t count) {
    m_count = count;
    UpdateCaption();
}

void CDlgMailList::UpdateCaption() {
    m_caption->setText(tr("Retrieving %1/%2").arg(m_list->topLevelItemCount()).arg(m_count));
}

void CDlgMailList::AddHeader(const MailHeaderItem& item) {
    auto* row = new QTreeWidgetItem;
    row->setText(FromColumn, ShownFrom(QString::fromStdString(item.from)));
    row->setText(SubjectColumn, QString::fromStdString(item.subject));
    row->setText(SizeColumn, ShownSize(item.size));
    row->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    row->setText(DateColumn, QString::fromStdString(item.date));
    // The number the message had when it was listed: deleting goes by it, so a list that
    // stopped early never deletes a message it does not show.
    row->setData(FromColumn, NumberRole, item.number);
    m_list->insertTopLevelItem(0, row);
    UpdateCaption();
}

void CDlgMailList::RetrievalFinished() {
    UpdateCaption();
}

void CDlgMailList::DeleteAll() {
    std::vector<QTreeWidgetItem*> items;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        items.push_back(m_list->topLevelItem(i));
    }
    DeleteItems(std::move(items));
}

void CDlgMailList::DeleteSelected() {
    std::vector<QTreeWidgetItem*> items;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        if (m_list->topLevelItem(i)->isSelected()) {
            items.push_back(m_list->topLevelItem(i));
        }
    }
    DeleteItems(std::move(items));
}

void CDlgMailList::DeleteItems(std::vector<QTreeWidgetItem*> items) {
    if (m_worker.IsRunning()) {
        return;
    }
    if (items.empty()) {
        ShowWarning(this, tr("No mail selected"));
        return;
    }
    if (m_stopRetrieval) {
        m_stopRetrieval();
    }
    std::vector<std::uint32_t> numbers;
    numbers.reserve(items.size());
    for (QTreeWidgetItem* item : items) {
        numbers.push_back(item->data(FromColumn, NumberRole).toUInt());
    }
    m_deleting = std::move(items);
    m_deleteSelected->setEnabled(false);
    m_deleteAll->setEnabled(false);
    m_close->setText(tr("&Cancel"));
    m_worker.Start(m_account, std::move(numbers));
}

void CDlgMailList::reject() {
    m_worker.Stop();
    QDialog::reject();
}

template <typename Call>
void CDlgMailList::OnWindowThread(Call call) {
    if (QThread::currentThread() == thread()) {
        call();
    } else {
        QMetaObject::invokeMethod(this, call, Qt::BlockingQueuedConnection);
    }
}

void CDlgMailList::DeleteProgress(const std::string& text) {
    OnWindowThread([this, text] { m_caption->setText(QString::fromStdString(text)); });
}

void CDlgMailList::MessageDeleted(std::size_t position) {
    OnWindowThread([this, position] {
        if (position < m_deleting.size()) {
            delete m_deleting[position];  // QTreeWidgetItem: deleting removes it from the list
            m_deleting[position] = nullptr;
        }
    });
}

void CDlgMailList::DeleteFinished(bool ok, const std::string& text) {
    // Queued, not blocking: the box below waits for the user, and the worker should end.
    QMetaObject::invokeMethod(
        this,
        [this, ok, text] {
            m_deleting.clear();
            m_deleteSelected->setEnabled(true);
            m_deleteAll->setEnabled(true);
            m_close->setText(tr("&Close"));
            if (!ok && !text.empty()) {
                ShowWarning(this, QString::fromStdString(text));
            }
        },
        Qt::QueuedConnection);
}

}  // namespace talvorine::mailpoll::ui
