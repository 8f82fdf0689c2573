#include "talvorine/admin/ui/dlg_data_source.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "talvorine/admin/ui/message_box.h"

namespace talvorine::admin::ui {

namespace {

QLineEdit* AddLine(QFormLayout* form, QWidget* parent, const QString& label, const char* name,
                   const std::string& value) {
    auto* edit = new QLineEdit(ToQ(value), parent);
    edit->setObjectName(QString::fromLatin1(name));
    auto* caption = new QLabel(label, parent);
    caption->setBuddy(edit);
    form->addRow(caption, edit);
    return edit;
}

std::string Utf8(const QLineEdit* edit) {
    QByteArray bytes = edit->text().trimmed().toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace

CDlgDataSource::CDlgDataSource(OdbcInstaller& installer, const QString& dataSourceName,
                               QWidget* parent)
    : QDialog(parent), m_installer(installer) {
    setWindowTitle(QStringLiteral("ODBC Data Source"));
    QByteArray name = dataSourceName.toUtf8();
    m_source = ReadDataSource(installer, std::string_view(name.constData(), name.size()));

    auto* column = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    column->addLayout(form);
    m_name = AddLine(form, this, QStringLiteral("&Data source name:"), "name", name.toStdString());
    m_driver = new QComboBox(this);
    m_driver->setObjectName(QStringLiteral("driver"));
    m_driver->addItems(
        {QStringLiteral("SQLite 3 (embedded database file)"), QStringLiteral("MariaDB")});
    m_driver->setCurrentIndex(m_source.driver == DataSourceDriver::MariaDb ? 1 : 0);
    auto* driverLabel = new QLabel(QStringLiteral("D&river:"), this);
    driverLabel->setBuddy(m_driver);
    form->addRow(driverLabel, m_driver);
    m_database = AddLine(form, this, QStringLiteral("Data&base:"), "database", m_source.database);

    m_serverFields = new QWidget(this);
    auto* serverForm = new QFormLayout(m_serverFields);
    serverForm->setContentsMargins(0, 0, 0, 0);
    m_server =
        AddLine(serverForm, m_serverFields, QStringLiteral("&Server:"), "server", m_source.server);
    m_port = AddLine(serverForm, m_serverFields, QStringLiteral("&Port:"), "port", m_source.port);
    m_user = AddLine(serverForm, m_serverFields, QStringLiteral("&User:"), "user", m_source.user);
    m_password = AddLine(serverForm, m_serverFields, QStringLiteral("Pass&word:"), "password",
                         m_source.password);
    m_password->setEchoMode(QLineEdit::Password);
    column->addWidget(m_serverFields);

    auto* note = new QLabel(
        QStringLiteral("The data source is kept in your ODBC data-source file; the server reads "
                       "it when it starts."),
        this);
    note->setWordWrap(true);
    column->addWidget(note);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    column->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_driver, &QComboBox::currentIndexChanged, this, [this] { ShowDriverFields(); });
    ShowDriverFields();
    setMinimumWidth(560);
}

void CDlgDataSource::ShowDriverFields() {
    m_serverFields->setVisible(m_driver->currentIndex() == 1);
    adjustSize();
}

void CDlgDataSource::accept() {
    DataSource source = m_source;
    source.driver =
        m_driver->currentIndex() == 1 ? DataSourceDriver::MariaDb : DataSourceDriver::Sqlite;
    source.database = Utf8(m_database);
    source.server = Utf8(m_server);
    source.port = Utf8(m_port);
    source.user = Utf8(m_user);
    QByteArray password = m_password->text().toUtf8();
    source.password.assign(password.constData(), static_cast<std::size_t>(password.size()));
    std::string name = Utf8(m_name);
    std::string refusal = CheckDataSource(name, source);
    if (refusal.empty()) {
        refusal = WriteDataSource(m_installer, name, source);
    }
    if (!refusal.empty()) {
        ShowWarning(this, ToQ(refusal));
        return;
    }
    QDialog::accept();
}

}  // namespace talvorine::admin::ui
