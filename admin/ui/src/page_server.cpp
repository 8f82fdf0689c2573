#include "talvorine/admin/ui/page_server.h"

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <charconv>

#include "talvorine/admin/data_source.h"
#include "talvorine/admin/ui/dlg_data_source.h"
#include "talvorine/admin/ui/message_box.h"
#include "talvorine/setup/exports.h"

namespace talvorine::admin::ui {

// The bar as the control sees it.
class CPropertyPageServer::Progress : public ProgressSink {
public:
    explicit Progress(QProgressBar* bar) : m_bar(bar) {}
    void SetPosition(int position) override {
        m_bar->setValue(position);
        m_bar->repaint();
    }
    int Position() const override { return m_bar->value(); }

private:
    QProgressBar* m_bar;
};

namespace {

// The server's address; the computer's name when there is none.
QString HostAddress() {
    char address[16] = {};
    if (GetHostIP(address, sizeof(address)) == 1) {
        return QString::fromLatin1(address);
    }
    char name[256] = {};
    ::gethostname(name, sizeof(name) - 1);
    return QString::fromLocal8Bit(name);
}

// A green light for a running server, a red one for a stopped server.
QPixmap StatePicture(bool running) {
    QPixmap picture(20, 20);
    picture.fill(::Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(60, 60, 60), 1));
    painter.setBrush(running ? QColor(40, 170, 60) : QColor(200, 40, 40));
    painter.drawEllipse(QRectF(2, 2, 16, 16));
    return picture;
}

// Waits while the window keeps painting (the progress bar) but takes no input.
void PumpFor(std::chrono::milliseconds time) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < time.count()) {
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        ::usleep(5000);
    }
}

}  // namespace

CPropertyPageServer::CPropertyPageServer(const ServerSettings& settings, QWidget* parent)
    : QWidget(parent), m_installerLibrary(OdbcInstallerLibrary) {
    auto* column = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    column->addLayout(form);

    m_port = new QLineEdit(QString::number(settings.port), this);
    m_port->setObjectName(QStringLiteral("port"));
    m_port->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,10}")), this));
    auto* portLabel = new QLabel(QStringLiteral("Port:"), this);
    portLabel->setBuddy(m_port);
    form->addRow(portLabel, m_port);

    m_dataSourceName = new QLineEdit(ToQ(settings.dataSourceName), this);
    m_dataSourceName->setObjectName(QStringLiteral("dataSourceName"));
    m_dataSourceName->setMaxLength(259);  // what the server reads of it
    auto* editSource = new QPushButton(QStringLiteral("..."), this);
    editSource->setObjectName(QStringLiteral("editDataSource"));
    editSource->setAccessibleDescription(QStringLiteral("Edit the ODBC data source"));
    editSource->setAutoDefault(false);
    editSource->setMaximumWidth(
        editSource->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 24);
    auto* sourceLine = new QHBoxLayout;
    sourceLine->addWidget(m_dataSourceName);
    sourceLine->addWidget(editSource);
    auto* sourceLabel = new QLabel(QStringLiteral("Data Source Name:"), this);
    sourceLabel->setBuddy(m_dataSourceName);
    form->addRow(sourceLabel, sourceLine);

    m_address = new QLineEdit(HostAddress(), this);
    m_address->setObjectName(QStringLiteral("serverAddress"));
    m_address->setReadOnly(true);
    auto* addressLabel = new QLabel(QStringLiteral("Server adress:"), this);
    addressLabel->setBuddy(m_address);
    form->addRow(addressLabel, m_address);

    auto* statusLine = new QHBoxLayout;
    m_picture = new QLabel(this);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    statusLine->addWidget(m_picture);
    statusLine->addWidget(m_status, 1);
    column->addSpacing(8);
    column->addLayout(statusLine);

    auto* controlLine = new QHBoxLayout;
    m_startStop = new QPushButton(QStringLiteral("Start"), this);
    m_startStop->setObjectName(QStringLiteral("startStop"));
    m_startStop->setAutoDefault(false);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    controlLine->addWidget(m_startStop);
    controlLine->addWidget(m_progress, 1);
    column->addLayout(controlLine);

    auto* attention = new QLabel(
        QStringLiteral("Attention: Your changes will take effect after you have clicked OK "
                       "button and restarted your Talvorine Messenger Server."),
        this);
    attention->setWordWrap(true);
    column->addSpacing(8);
    column->addWidget(attention);
    column->addStretch();

    ServerControlOptions options;
    options.service = settings.runsAsService;
    options.program = settings.ServerProgram();
    options.folder = settings.ServerFolder();
    options.stopEventName = StopEventName();
    options.wait = PumpFor;
    m_control = std::make_unique<ServerControl>(std::move(options));

    connect(m_startStop, &QPushButton::clicked, this, [this] { StartOrStop(); });
    connect(editSource, &QPushButton::clicked, this, [this] { EditDataSource(); });
    RefreshState();
}

CPropertyPageServer::~CPropertyPageServer() = default;

void CPropertyPageServer::RefreshState() {
    m_running = m_control->IsRunning();
    m_status->setText(ToQ(m_running ? RunningText : StoppedText));
    m_startStop->setText(m_running ? QStringLiteral("Stop") : QStringLiteral("Start"));
    m_picture->setPixmap(StatePicture(m_running));
}

void CPropertyPageServer::StartOrStop() {
    Progress progress(m_progress);
    QApplication::setOverrideCursor(::Qt::WaitCursor);
    m_startStop->setEnabled(false);
    bool done = m_running ? m_control->Stop(progress) : m_control->Start(progress);
    m_startStop->setEnabled(true);
    QApplication::restoreOverrideCursor();
    if (!done) {
        ShowError(this, ToQ(OperationFailureText));
    }
    RefreshState();
}

void CPropertyPageServer::EditDataSource() {
    auto installer = OdbcInstaller::Load(m_installerLibrary);
    if (!installer) {
        ShowError(this, ToQ(OdbcInstallerErrorText), ToQ(OdbcInstallerErrorCaption));
        return;
    }
    CDlgDataSource dialog(*installer, m_dataSourceName->text().trimmed(), this);
    if (dialog.exec() == QDialog::Accepted) {
        m_dataSourceName->setText(dialog.DataSourceName());
    }
}

void CPropertyPageServer::Take(ServerSettings& settings) const {
    QByteArray text = m_port->text().toLatin1();
    std::uint32_t port = 0;
    auto [end, error] = std::from_chars(text.constData(), text.constData() + text.size(), port);
    settings.port =
        text.isEmpty() || error != std::errc() || end != text.constData() + text.size() ? 0 : port;
    QByteArray dsn = m_dataSourceName->text().toUtf8();
    settings.dataSourceName.assign(dsn.constData(), static_cast<std::size_t>(dsn.size()));
}

}  // namespace talvorine::admin::ui
