#pragma once
// Helpers for the dialogs' fields: a label that names its control (also for screen readers),
// and text limits counted in the bytes the field has on the wire and in the files.

#include <QString>
#include <cstddef>

class QLabel;
class QLineEdit;
class QWidget;

namespace talvorine::client::ui {

// A label for `control` (its mnemonic moves the focus there); the label's text without "&"
// and ":" becomes the control's accessible name.
QLabel* BuddyLabel(const QString& text, QWidget* control);

// At most `maxBytes` bytes of UTF-8 can be typed or pasted, so what is typed always fits its
// fixed-width field whole (a field of 16 characters holds 16 bytes, not 16 letters).
void LimitUtf8(QLineEdit* edit, std::size_t maxBytes);

}  // namespace talvorine::client::ui
