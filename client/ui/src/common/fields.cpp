#include "talvorine/client/ui/common/fields.h"

#include <QLabel>
#include <QLineEdit>
#include <QValidator>

namespace talvorine::client::ui {

namespace {

class Utf8LimitValidator : public QValidator {
public:
    Utf8LimitValidator(std::size_t maxBytes, QObject* parent)
        : QValidator(parent), m_maxBytes(maxBytes) {}

    State validate(QString& input, int&) const override {
        return static_cast<std::size_t>(input.toUtf8().size()) <= m_maxBytes ? Acceptable : Invalid;
    }

private:
    std::size_t m_maxBytes;
};

}  // namespace

QLabel* BuddyLabel(const QString& text, QWidget* control) {
    auto* label = new QLabel(text, control->parentWidget());
    label->setBuddy(control);
    control->setAccessibleName(QString(text).remove('&').remove(':').trimmed());
    return label;
}

void LimitUtf8(QLineEdit* edit, std::size_t maxBytes) {
    edit->setMaxLength(static_cast<int>(maxBytes));
    edit->setValidator(new Utf8LimitValidator(maxBytes, edit));
}

}  // namespace talvorine::client::ui
