#pragma once
// "ID:" and "Nickname:" of the contact a window is about, read-only, for the top of the
// history windows.

#include <string>

class QWidget;

namespace talvorine::client::ui {

QWidget* ContactHeader(const std::string& id, const std::string& nickname, QWidget* parent);

}  // namespace talvorine::client::ui
