#pragma once
// The data source dialog behind "...": edits the server's ODBC data source (the embedded
// SQLite database file, or a MariaDB server) in the user's data-source file.

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>

#include "talvorine/admin/data_source.h"

namespace talvorine::admin::ui {

class CDlgDataSource : public QDialog {
    Q_OBJECT
public:
    CDlgDataSource(OdbcInstaller& installer, const QString& dataSourceName,
                   QWidget* parent = nullptr);

    QString DataSourceName() const { return m_name->text().trimmed(); }
    // OK: checks and writes the data source; stays open with a message when it cannot.
    void accept() override;

private:
    void ShowDriverFields();

    OdbcInstaller& m_installer;
    DataSource m_source;
    QLineEdit* m_name;
    QComboBox* m_driver;
    QLineEdit* m_database;
    QLineEdit* m_server;
    QLineEdit* m_port;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QWidget* m_serverFields;
};

}  // namespace talvorine::admin::ui
