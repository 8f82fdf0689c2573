#include "talvorine/admin/ui/page_log_file.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <charconv>

#include "talvorine/admin/log_files.h"

namespace talvorine::admin::ui {

CPropertyPageLogFile::CPropertyPageLogFile(const ServerSettings& settings, Opener opener,
                                           QWidget* parent)
    : QWidget(parent), m_serverFolder(settings.ServerFolder()), m_opener(std::move(opener)) {
    auto* column = new QVBoxLayout(this);
    auto* filesLabel = new QLabel(QStringLiteral("Existing Log Files"), this);
    m_files = new QComboBox(this);
    m_files->setObjectName(QStringLiteral("logFiles"));
    filesLabel->setBuddy(m_files);
    for (const std::string& name : ListLogFiles(m_serverFolder)) {
        m_files->addItem(QString::fromStdString(name));
    }
    m_files->setCurrentIndex(-1);
    auto* view = new QPushButton(QStringLiteral("View"), this);
    view->setObjectName(QStringLiteral("view"));
    auto* remove = new QPushButton(QStringLiteral("Delete"), this);
    remove->setObjectName(QStringLiteral("deleteLog"));
    for (QPushButton* button : {view, remove}) {
        button->setAutoDefault(false);
    }
    auto* filesLine = new QHBoxLayout;
    filesLine->addWidget(m_files, 1);
    filesLine->addWidget(view);
    filesLine->addWidget(remove);
    column->addWidget(filesLabel);
    column->addLayout(filesLine);

    m_enable = new QCheckBox(QStringLiteral("Enable log"), this);
    m_enable->setObjectName(QStringLiteral("enableLog"));
    m_enable->setChecked(settings.log[EnableLog] != 0);
    m_autoClear = new QCheckBox(QStringLiteral("Auto clear log files older than"), this);
    m_autoClear->setObjectName(QStringLiteral("autoClear"));
    m_autoClear->setChecked(settings.log[AutoClearLog] != 0);
    m_days = new QLineEdit(QString::number(settings.log[OlderThanDays]), this);
    m_days->setObjectName(QStringLiteral("olderThanDays"));
    m_days->setAccessibleName(QStringLiteral("days"));
    m_days->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), this));
    m_days->setMaximumWidth(m_days->fontMetrics().horizontalAdvance(QStringLiteral("0000000")));
    auto* clearLine = new QHBoxLayout;
    clearLine->addWidget(m_autoClear);
    clearLine->addWidget(m_days);
    clearLine->addWidget(new QLabel(QStringLiteral("days"), this));
    clearLine->addStretch();
    column->addSpacing(8);
    column->addWidget(m_enable);
    column->addLayout(clearLine);

    auto* eventsLabel = new QLabel(QStringLiteral("Event type to log:"), this);
    m_events = new QListWidget(this);
    m_events->setObjectName(QStringLiteral("events"));
    eventsLabel->setBuddy(m_events);
    for (std::size_t i = 0; i < EventCount; ++i) {
        auto* item = new QListWidgetItem(ToQ(EventLabels[i]), m_events);
        item->setFlags(item->flags() | ::Qt::ItemIsUserCheckable);
        item->setCheckState(settings.log[FirstEvent + i] != 0 ? ::Qt::Checked : ::Qt::Unchecked);
    }
    column->addSpacing(8);
    column->addWidget(eventsLabel);
    column->addWidget(m_events, 1);

    connect(view, &QPushButton::clicked, this, [this] { View(); });
    connect(remove, &QPushButton::clicked, this, [this] { DeleteSelected(); });
}

void CPropertyPageLogFile::View() {
    if (m_files->currentIndex() < 0) {
        ShowWarning(this, ToQ(NoLogFileText));
        return;
    }
    std::filesystem::path file = LogFilePath(m_serverFolder, m_files->currentText().toStdString());
    std::error_code missing;
    if (!std::filesystem::is_regular_file(file, missing) || !m_opener ||
        !m_opener(QUrl::fromLocalFile(QString::fromStdString(file.string())))) {
        ShowError(this, ToQ(DeleteLogFailedText));
    }
}

void CPropertyPageLogFile::DeleteSelected() {
    int index = m_files->currentIndex();
    if (index < 0) {
        ShowWarning(this, ToQ(NoLogFileText));
        return;
    }
    if (!AskOkCancel(this, ToQ(DeleteLogQuestion))) {
        return;
    }
    if (!DeleteLogFile(m_serverFolder, m_files->currentText().toStdString())) {
        ShowError(this, ToQ(DeleteLogFailedText));
        return;
    }
    m_files->removeItem(index);
    m_files->setCurrentIndex(-1);
}

void CPropertyPageLogFile::Take(ServerSettings& settings) const {
    settings.log[EnableLog] = m_enable->isChecked() ? 1 : 0;
    settings.log[AutoClearLog] = m_autoClear->isChecked() ? 1 : 0;
    QByteArray days = m_days->text().toLatin1();
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(days.constData(), days.constData() + days.size(), value);
    settings.log[OlderThanDays] =
        days.isEmpty() || error != std::errc() || end != days.constData() + days.size() ? 0 : value;
    for (std::size_t i = 0; i < EventCount; ++i) {
        settings.log[FirstEvent + i] =
            m_events->item(static_cast<int>(i))->checkState() == ::Qt::Checked ? 1 : 0;
    }
}

}  // namespace talvorine::admin::ui
