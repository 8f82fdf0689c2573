#include "talvorine/client/ui/common/contact_header.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

#include "talvorine/client/ui/common/message_box.h"

namespace talvorine::client::ui {

QWidget* ContactHeader(const std::string& id, const std::string& nickname, QWidget* parent) {
    auto* header = new QWidget(parent);
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* idLabel = new QLabel(QStringLiteral("ID:"), header);
    auto* idField = new QLineEdit(ToQString(id), header);
    idField->setObjectName(QStringLiteral("id"));
    idField->setReadOnly(true);
    idLabel->setBuddy(idField);
    auto* nickLabel = new QLabel(QStringLiteral("Nickname:"), header);
    auto* nickField = new QLineEdit(ToQString(nickname), header);
    nickField->setObjectName(QStringLiteral("nickname"));
    nickField->setReadOnly(true);
    nickLabel->setBuddy(nickField);
    layout->addWidget(idLabel);
    layout->addWidget(idField, 1);
    layout->addWidget(nickLabel);
    layout->addWidget(nickField, 2);
    return header;
}

}  // namespace talvorine::client::ui
