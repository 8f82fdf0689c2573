#pragma once
// Helpers the three pages share: labelled fields in a form, and texts cut to record fields.

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <string>

#include "talvorine/client/ui/infopages/info_pages.h"

namespace talvorine::infopages::detail {

// A line edit for a record field of `width` bytes, named `name`, read-only in contact mode.
QLineEdit* MakeField(QWidget* parent, const char* name, std::size_t width, InfoMode mode);
// A line edit for a record field of `width` bytes, named `name`, added to the form under
// `label` (the label is its buddy, so the label's text is its accessible name).
QLineEdit* AddField(QFormLayout* form, const QString& label, const char* name, std::size_t width,
                    InfoMode mode);

// The profile text shown in a control.
QString Shown(const std::string& text);
// A control's text for the record: UTF-8, cut to the field's width less its terminator.
std::string Stored(const QString& text, std::size_t width);

// Field widths of the record (bytes, with the terminator).
namespace width {
inline constexpr std::size_t Id = 9, Name = 65, Gender = 2, Birthday = 256, Long = 256, Zip = 17,
                             Phone = 33, Company = 129;
}

}  // namespace talvorine::infopages::detail
