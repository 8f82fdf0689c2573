#pragma once
// The program's start: settings, the database, the sheet. Called by the thin main and by
// tests in-process.

#include <QStringList>

namespace talvorine::admin::ui {

// Needs a QApplication. The exit code.
int RunAdmin(const QStringList& arguments);

}  // namespace talvorine::admin::ui
