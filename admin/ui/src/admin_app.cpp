#include "talvorine/admin/ui/admin_app.h"

#include <QApplication>
#include <cstdlib>
#include <filesystem>

#include "talvorine/admin/admin_settings.h"
#include "talvorine/admin/ui/message_box.h"
#include "talvorine/admin/ui/server_property_sheet.h"
#include "talvorine/admin/user_directory.h"

namespace talvorine::admin::ui {

namespace {

// The installed service reads its data source from its own folder; the program works on the
// same one unless told otherwise.
void UseServiceDataSources(const ServerSettings& settings) {
    const char* file = std::getenv("ODBCINI");
    if (!settings.runsAsService || (file != nullptr && *file != '\0')) {
        return;
    }
    std::filesystem::path serviceFile = settings.ServerFolder() / "odbc.ini";
    std::error_code error;
    if (std::filesystem::is_regular_file(serviceFile, error)) {
        ::setenv("ODBCINI", serviceFile.c_str(), 1);
    }
}

}  // namespace

int RunAdmin(const QStringList& /*arguments*/) {
    QApplication::setApplicationName(QStringLiteral("TalvorMessengerAdmin"));
    ServerSettings settings = ServerSettings::Load();
    UseServiceDataSources(settings);
    UserDirectory directory;
    if (!directory.Open(settings.dataSourceName)) {
        ShowError(nullptr, QStringLiteral("Open Messenger Server Database Error!"));
    }
    CServerPropertySheet sheet(settings, directory, DesktopOpener());
    sheet.exec();
    return 0;
}

}  // namespace talvorine::admin::ui
