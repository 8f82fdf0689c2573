#include "contact_dialogs.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "talvorine/client/ui/contacts/contact_list_rules.h"

namespace talvorine::client::ui::contacts {

QString BoxText(const std::string& text) {
    return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

void ShowWarningBox(QWidget* parent, const std::string& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(BoxCaption), BoxText(text),
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);  // nicknames and addresses come from other users
    box.exec();
}

bool AskYesNoBox(QWidget* parent, const std::string& text) {
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(BoxCaption), BoxText(text),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

namespace {

// A dialog of one text field with OK and Cancel.
class TextDialog : public QDialog {
public:
    TextDialog(QWidget* parent, const QString& caption, const QString& label, int maxLength,
               const std::string& initial)
        : QDialog(parent) {
        setWindowTitle(caption);
        setObjectName(QStringLiteral("textDialog"));
        auto* layout = new QVBoxLayout(this);
        auto* form = new QFormLayout;
        m_edit = new QLineEdit(QString::fromStdString(initial), this);
        m_edit->setObjectName(QStringLiteral("name"));
        m_edit->setMaxLength(maxLength);
        m_edit->setMinimumWidth(220);
        auto* text = new QLabel(label, this);
        text->setBuddy(m_edit);
        m_edit->setAccessibleName(QString(label).remove(QLatin1Char('&')));
        form->addRow(text, m_edit);
        layout->addLayout(form);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &TextDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        m_edit->selectAll();
    }
    QLineEdit* Edit() const { return m_edit; }
    std::function<bool(const QString&)> check;

    void accept() override {
        if (check && !check(m_edit->text())) {
            m_edit->setFocus();
            return;
        }
        QDialog::accept();
    }

private:
    QLineEdit* m_edit;
};

}  // namespace

std::optional<std::string> AskGroupName(QWidget* parent, const QString& caption,
                                        const std::string& initial) {
    // The field takes a little more than a group name may hold, so that a long paste is
    // refused with its reason instead of being cut silently.
    TextDialog dialog(parent, caption, QStringLiteral("&Group name:"), 64, initial);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.Edit()->text().toStdString();
}

std::optional<std::string> AskNickname(QWidget* parent, const std::string& initial) {
    TextDialog dialog(parent, QStringLiteral("Change Nickname"), QStringLiteral("&User name"), 64,
                      initial);
    dialog.check = [&dialog](const QString& text) {
        if (text.trimmed().isEmpty()) {
            ShowWarningBox(&dialog, std::string(Text::NicknameEmpty));
            return false;
        }
        return true;
    };
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.Edit()->text().trimmed().toStdString();
}

std::optional<int> AskDeleteGroup(QWidget* parent, const std::string& group,
                                  const std::vector<std::string>& targets) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("deleteGroupDialog"));
    dialog.setWindowTitle(QStringLiteral("Delete Group"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(
        new QLabel(QStringLiteral("What should happen to the users of the group \"%1\"?")
                       .arg(QString::fromStdString(group)),
                   &dialog));
    auto* move = new QRadioButton(QStringLiteral("&Move them to:"), &dialog);
    move->setObjectName(QStringLiteral("moveUsers"));
    auto* targetList = new QComboBox(&dialog);
    targetList->setObjectName(QStringLiteral("targetGroup"));
    targetList->setAccessibleName(QStringLiteral("Move them to"));
    for (const auto& name : targets) {
        targetList->addItem(QString::fromStdString(name));
    }
    auto* remove = new QRadioButton(QStringLiteral("&Delete them"), &dialog);
    remove->setObjectName(QStringLiteral("deleteUsers"));
    layout->addWidget(move);
    layout->addWidget(targetList);
    layout->addWidget(remove);
    const bool canMove = !targets.empty();
    move->setEnabled(canMove);
    targetList->setEnabled(canMove);
    (canMove ? move : remove)->setChecked(true);
    QObject::connect(move, &QRadioButton::toggled, targetList, &QComboBox::setEnabled);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return move->isChecked() ? targetList->currentIndex() : -1;
}

}  // namespace talvorine::client::ui::contacts
