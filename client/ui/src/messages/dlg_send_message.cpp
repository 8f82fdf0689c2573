#include "talvorine/client/ui/messages/dlg_send_message.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTextEdit>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <system_error>

#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/data/contact_list.h"
#include "talvorine/client/session/texts.h"
#include "talvorine/client/ui/common/help.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/common/window_memory.h"
#include "talvorine/client/ui/messages/links.h"
#include "talvorine/client/ui/rtf/rtf_codec.h"

namespace talvorine::client::ui {

namespace {

constexpr std::string_view FailedToCreateThread = "Failed to create thread.";
// The tree takes the extra width of multiple mode, less the gap before it.
constexpr int TreeGap = 6;

// Marks links as the compose box shows them; the marks are not part of the message.
class LinkMarker : public QSyntaxHighlighter {
public:
    using QSyntaxHighlighter::QSyntaxHighlighter;

protected:
    void highlightBlock(const QString& text) override {
        QTextCharFormat link;
        link.setForeground(QColor(0x00, 0x00, 0xFF));
        link.setFontUnderline(true);
        for (const FoundLink& span : FindLinks(text)) {
            setFormat(span.start, span.length, link);
        }
    }
};

QFont ComposeFont() {
    QFont font(QStringLiteral("Courier New"), 10);
    font.setStyleHint(QFont::TypeWriter);
    font.setBold(false);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

QPushButton* Button(QWidget* parent, const char* text, const char* name) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

QIcon ColorIcon(const QColor& color) {
    QPixmap swatch(12, 12);
    swatch.fill(color);
    return QIcon(swatch);
}

}  // namespace

CDlgSendMessage::CDlgSendMessage(const SendMessageServices& services, SendMessageRequest request,
                                 QWidget* parent)
    : QDialog(parent),
      m_services(services),
      m_request(std::move(request)),
      m_options(SendWindowOptions::Load()),
      m_sender(*services.session, *this),
      m_job(m_sender) {
    setObjectName(QStringLiteral("CDlgSendMessage"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::WindowMinimizeButtonHint);
    setWindowTitle(
        ToQString(m_request.reply ? SendMessageText::ReplyCaption : SendMessageText::Caption));
    BuildWindow();
    FillRecipientTree();
    Preload();
    resize(440, 330);
    if (m_options.multiple) {
        m_options.multiple = false;
        SetMultipleMode(true);
    }
    RestoreWindowPlacement(*this, data::WindowSection::SendMessage);
    AddHelpKey(this, [] { return HelpTopic::SendMessage; });
    if (m_services.fade) {
        FadeInWindow(this, m_services.fade());
    }
    m_compose->setFocus();
}

CDlgSendMessage::~CDlgSendMessage() {
    EndWindow();
}

void CDlgSendMessage::BuildWindow() {
    auto* outer = new QHBoxLayout(this);
    outer->setSpacing(TreeGap);
    auto* left = new QVBoxLayout;
    outer->addLayout(left, 1);

    auto* head = new QGridLayout;
    auto* idLabel = new QLabel(QStringLiteral("ID:"), this);
    m_id = new QLineEdit(this);
    m_id->setObjectName(QStringLiteral("id"));
    m_id->setReadOnly(true);
    idLabel->setBuddy(m_id);
    auto* nickLabel = new QLabel(QStringLiteral("Nickname:"), this);
    m_nickname = new QLineEdit(this);
    m_nickname->setObjectName(QStringLiteral("nickname"));
    m_nickname->setReadOnly(true);
    nickLabel->setBuddy(m_nickname);
    m_multiple = Button(this, "&Multiple>>", "multiple");
    head->addWidget(idLabel, 0, 0);
    head->addWidget(m_id, 0, 1);
    head->addWidget(nickLabel, 0, 2);
    head->addWidget(m_nickname, 0, 3);
    head->addWidget(m_multiple, 0, 4);
    head->setColumnStretch(1, 1);
    head->setColumnStretch(3, 2);
    left->addLayout(head);

    m_formatRow = BuildFormatRow();
    left->addWidget(m_formatRow);

    m_compose = new QTextEdit(this);
    m_compose->setObjectName(QStringLiteral("compose"));
    m_compose->setAccessibleName(QStringLiteral("Message"));
    m_compose->setAcceptRichText(true);
    m_compose->document()->setDefaultFont(ComposeFont());
    m_compose->setFont(ComposeFont());
    QTextCharFormat plain;
    plain.setFont(ComposeFont());
    m_compose->setCurrentCharFormat(plain);
    new LinkMarker(m_compose->document());
    left->addWidget(m_compose, 1);

    m_sendOffline = new QCheckBox(QStringLiteral("Send offline msg if user not online"), this);
    m_sendOffline->setObjectName(QStringLiteral("sendOffline"));
    m_prompt = new QCheckBox(QStringLiteral("Prompt before send offline msg"), this);
    m_prompt->setObjectName(QStringLiteral("prompt"));
    m_wordWrap = new QCheckBox(QStringLiteral("&Word Wrap"), this);
    m_wordWrap->setObjectName(QStringLiteral("wordWrap"));
    m_sendOffline->setChecked(m_options.sendOffline);
    m_prompt->setChecked(m_options.prompt);
    m_prompt->setEnabled(m_options.sendOffline);
    m_wordWrap->setChecked(m_options.wordWrap);
    m_compose->setLineWrapMode(m_options.wordWrap ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
    auto* checks = new QGridLayout;
    checks->addWidget(m_sendOffline, 0, 0);
    checks->addWidget(m_wordWrap, 0, 1, Qt::AlignRight);
    checks->addWidget(m_prompt, 1, 0);
    left->addLayout(checks);

    m_send = Button(this, "&Send", "send");
    m_send->setDefault(true);
    m_cancel = Button(this, "&Cancel", "cancel");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_send);
    buttons->addWidget(m_cancel);
    left->addLayout(buttons);

    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("recipients"));
    m_tree->setAccessibleName(QStringLiteral("Recipients"));
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(true);
    m_tree->setFixedWidth(MultipleModeExtraWidth - TreeGap);
    m_tree->hide();
    outer->addWidget(m_tree);

    connect(m_multiple, &QPushButton::clicked, this, &CDlgSendMessage::ToggleMultiple);
    connect(m_send, &QPushButton::clicked, this, &CDlgSendMessage::Send);
    connect(m_cancel, &QPushButton::clicked, this, &CDlgSendMessage::reject);
    connect(m_sendOffline, &QCheckBox::toggled, this, [this](bool on) {
        m_options.sendOffline = on;
        m_prompt->setEnabled(on);
    });
    connect(m_prompt, &QCheckBox::toggled, this, [this](bool on) { m_options.prompt = on; });
    connect(m_wordWrap, &QCheckBox::toggled, this, [this](bool on) {
        m_options.wordWrap = on;
        m_compose->setLineWrapMode(on ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
    });
    ShowRecipient();
}

QWidget* CDlgSendMessage::BuildFormatRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    QPushButton* font = Button(row, "&Font", "font");
    QPushButton* bold = Button(row, "&Bold", "bold");
    QPushButton* italic = Button(row, "&Italic", "italic");
    QPushButton* underline = Button(row, "&Underline", "underline");
    QPushButton* foreground = Button(row, "Foreground &Color", "foreground");
    QPushButton* background = Button(row, "&Background Color", "background");
    foreground->setMenu(BuildColorMenu(false));
    background->setMenu(BuildColorMenu(true));
    for (QPushButton* button : {font, bold, italic, underline, foreground, background}) {
        layout->addWidget(button);
    }
    layout->addStretch(1);
    connect(font, &QPushButton::clicked, this, &CDlgSendMessage::ChooseFont);
    connect(bold, &QPushButton::clicked, this, &CDlgSendMessage::ToggleBold);
    connect(italic, &QPushButton::clicked, this, &CDlgSendMessage::ToggleItalic);
    connect(underline, &QPushButton::clicked, this, &CDlgSendMessage::ToggleUnderline);
    return row;
}

QMenu* CDlgSendMessage::BuildColorMenu(bool background) {
    auto* menu = new QMenu(this);
    menu->setObjectName(background ? QStringLiteral("backgroundMenu")
                                   : QStringLiteral("foregroundMenu"));
    const auto apply = [this, background](std::optional<QColor> color) {
        if (background) {
            SetBackground(color);
        } else {
            SetForeground(color);
        }
    };
    for (const NamedColor& named : MenuColors()) {
        QAction* action = menu->addAction(ColorIcon(named.color), ToQString(named.name));
        connect(action, &QAction::triggered, this, [apply, color = named.color] { apply(color); });
    }
    menu->addSeparator();
    QAction* automatic = menu->addAction(ToQString(SendMessageText::Automatic));
    connect(automatic, &QAction::triggered, this, [apply] { apply(std::nullopt); });
    return menu;
}

void CDlgSendMessage::FillRecipientTree() {
    std::vector<RecipientGroup> groups;
    if (m_services.contacts != nullptr) {
        std::lock_guard lock(m_services.session->Locks().list);
        groups = RecipientGroupsOf(*m_services.contacts);
    }
    for (const RecipientGroup& group : groups) {
        auto* node = new QTreeWidgetItem(m_tree, {ToQString(group.name)});
        node->setFlags(Qt::ItemIsEnabled);
        for (const RecipientRow& contact : group.contacts) {
            auto* child = new QTreeWidgetItem(node, {ToQString(contact.nickname)});
            child->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            child->setCheckState(0, Qt::Unchecked);
            // The contact's number: ids are eight digits, "%08d" gives them back.
            child->setData(0, Qt::UserRole, QString::fromStdString(contact.id).toLongLong());
            child->setToolTip(0, ToQString(contact.id));
        }
        node->setExpanded(true);
    }
}

void CDlgSendMessage::Preload() {
    QTextDocument* document = m_compose->document();
    if (!m_request.rtfText.empty()) {
        rtf::ReadRtf(m_request.rtfText, *document);
    } else if (!m_request.plainText.empty()) {
        QString text = ToQString(m_request.plainText);
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        m_compose->setPlainText(text);
    }
    if (m_request.reply) {
        const int caret = QuoteForReply(*document);
        QTextCursor cursor(document);
        cursor.setPosition(caret);
        m_compose->setTextCursor(cursor);
    }
}

void CDlgSendMessage::ShowRecipient() {
    if (m_options.multiple) {
        m_id->setText(ToQString(SendMessageText::Multiple));
        m_nickname->setText(ToQString(SendMessageText::Multiple));
    } else {
        m_id->setText(ToQString(m_request.contactId));
        m_nickname->setText(ToQString(m_request.nickname));
    }
}

void CDlgSendMessage::ToggleMultiple() {
    SetMultipleMode(!m_options.multiple);
}

void CDlgSendMessage::SetMultipleMode(bool on) {
    if (on == m_options.multiple) {
        return;
    }
    m_options.multiple = on;
    const int width = this->width() + (on ? MultipleModeExtraWidth : -MultipleModeExtraWidth);
    m_tree->setVisible(on);
    // The layout may ask for more than the old width while the tree appears.
    setMinimumWidth(0);
    resize(width, height());
    ShowRecipient();
}

void CDlgSendMessage::ChooseFont() {
    bool chosen = false;
    const QFont font =
        QFontDialog::getFont(&chosen, m_compose->currentFont(), this, QStringLiteral("Font"));
    if (chosen) {
        QTextCharFormat format;
        format.setFont(font);
        m_compose->mergeCurrentCharFormat(format);
    }
}

void CDlgSendMessage::ToggleBold() {
    QTextCharFormat format;
    format.setFontWeight(m_compose->fontWeight() >= QFont::Bold ? QFont::Normal : QFont::Bold);
    m_compose->mergeCurrentCharFormat(format);
}

void CDlgSendMessage::ToggleItalic() {
    QTextCharFormat format;
    format.setFontItalic(!m_compose->fontItalic());
    m_compose->mergeCurrentCharFormat(format);
}

void CDlgSendMessage::ToggleUnderline() {
    QTextCharFormat format;
    format.setFontUnderline(!m_compose->fontUnderline());
    m_compose->mergeCurrentCharFormat(format);
}

void CDlgSendMessage::SetForeground(std::optional<QColor> color) {
    SetColor(color, QTextFormat::ForegroundBrush);
}

void CDlgSendMessage::SetBackground(std::optional<QColor> color) {
    SetColor(color, QTextFormat::BackgroundBrush);
}

void CDlgSendMessage::SetColor(std::optional<QColor> color, int property) {
    if (color) {
        QTextCharFormat format;
        format.setProperty(property, QBrush(*color));
        m_compose->mergeCurrentCharFormat(format);
        return;
    }
    // Automatic: the colour property goes, and the text follows the system's colours. Each
    // run of the selection keeps the rest of its own format.
    const QTextCursor cursor = m_compose->textCursor();
    QTextDocument* document = m_compose->document();
    const int from = cursor.selectionStart();
    const int to = cursor.selectionEnd();
    struct Run {
        int start;
        int end;
        QTextCharFormat format;
    };
    std::vector<Run> runs;
    for (QTextBlock block = document->findBlock(from); block.isValid() && block.position() < to;
         block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const int start = std::max(from, fragment.position());
            const int end = std::min(to, fragment.position() + fragment.length());
            if (start < end) {
                runs.push_back({start, end, fragment.charFormat()});
            }
        }
    }
    QTextCursor edit(document);
    edit.beginEditBlock();
    for (Run& run : runs) {
        run.format.clearProperty(property);
        edit.setPosition(run.start);
        edit.setPosition(run.end, QTextCursor::KeepAnchor);
        edit.setCharFormat(run.format);
    }
    edit.endEditBlock();
    // Without a selection it is what is typed next that follows the system's colours (with
    // one, setting the format would lay it over the whole selection).
    if (!cursor.hasSelection()) {
        QTextCharFormat typing = m_compose->currentCharFormat();
        typing.clearProperty(property);
        m_compose->setCurrentCharFormat(typing);
    }
}

bool CDlgSendMessage::CheckRecipient(const std::string& contactId, bool checked) {
    const qlonglong number = QString::fromStdString(contactId).toLongLong();
    for (int g = 0; g < m_tree->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = m_tree->topLevelItem(g);
        for (int c = 0; c < group->childCount(); ++c) {
            QTreeWidgetItem* child = group->child(c);
            if (child->data(0, Qt::UserRole).toLongLong() == number) {
                child->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
                return true;
            }
        }
    }
    return false;
}

std::vector<std::string> CDlgSendMessage::CheckedRecipients() const {
    std::vector<std::string> ids;
    for (int g = 0; g < m_tree->topLevelItemCount(); ++g) {
        const QTreeWidgetItem* group = m_tree->topLevelItem(g);
        for (int c = 0; c < group->childCount(); ++c) {
            const QTreeWidgetItem* child = group->child(c);
            if (child->checkState(0) == Qt::Checked) {
                ids.push_back(std::to_string(child->data(0, Qt::UserRole).toLongLong()));
            }
        }
    }
    return ids;
}

void CDlgSendMessage::RemoveRecipients(const std::vector<std::string>& ids) {
    for (const std::string& id : ids) {
        const qlonglong number = QString::fromStdString(id).toLongLong();
        for (int g = 0; g < m_tree->topLevelItemCount(); ++g) {
            QTreeWidgetItem* group = m_tree->topLevelItem(g);
            for (int c = group->childCount() - 1; c >= 0; --c) {
                if (group->child(c)->data(0, Qt::UserRole).toLongLong() == number) {
                    delete group->takeChild(c);
                }
            }
        }
    }
}

void CDlgSendMessage::Send() {
    if (m_job.Running() || m_ended) {
        return;
    }
    if (!m_services.connected || !m_services.connected()) {
        ShowWarning(this, ToQString(session::Text::NotOnline));
        return;
    }
    const session::OutgoingMessage message = ComposedMessage(*m_compose->document());
    if (const auto refusal = session::CheckOutgoing(message)) {
        ShowWarning(this, ToQString(*refusal));
        m_compose->setFocus();
        return;
    }
    if (m_services.minimizeOnSend && m_services.minimizeOnSend()) {
        showMinimized();
    }
    // The report is handed to this window's thread; a window already gone drops it.
    auto done = [this](const session::SendReport& report) {
        QMetaObject::invokeMethod(
            this, [this, report] { Finished(report); }, Qt::QueuedConnection);
    };
    try {
        if (m_options.multiple) {
            m_job.StartMultiple(CheckedRecipients(), message, m_options.ForSending(),
                                std::move(done));
        } else {
            m_job.StartSingle({m_request.contactId, m_request.nickname}, message,
                              m_options.ForSending(), std::move(done));
        }
    } catch (const std::system_error&) {
        if (isMinimized()) {
            showNormal();
        }
        ShowError(this, ToQString(FailedToCreateThread));
        return;
    }
    EnableControls(false);
}

void CDlgSendMessage::EnableControls(bool enabled) {
    // The controls are the window's only sign that a send is under way.
    if (enabled) {
        unsetCursor();
    } else {
        setCursor(Qt::BusyCursor);
    }
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_multiple, m_formatRow, m_compose, m_sendOffline,
                                         m_wordWrap, m_send, m_cancel, m_tree}) {
        control->setEnabled(enabled);
    }
    m_prompt->setEnabled(enabled && m_sendOffline->isChecked());
}

void CDlgSendMessage::Finished(const session::SendReport& report) {
    const bool quitting = m_services.quitting && m_services.quitting();
    const bool minimize = m_services.minimizeOnSend && m_services.minimizeOnSend();
    const SendResultSteps steps = StepsAfterSend(report, m_closing, quitting, minimize);
    RemoveRecipients(steps.removedIds);
    for (const std::string& warning : steps.historyWarnings) {
        if (!quitting && !m_closing) {
            ShowWarning(this, ToQString(warning));
        }
    }
    if (steps.close) {
        if (m_services.playSound) {
            m_services.playSound(data::SoundEvent::MessageSent);
        }
        close();
        return;
    }
    if (!steps.error) {
        return;
    }
    if (steps.restore && isMinimized()) {
        showNormal();
    }
    ShowWarning(this, ToQString(*steps.error));
    EnableControls(true);
}

bool CDlgSendMessage::ConfirmOfflineSend(const std::string& question) {
    bool yes = false;
    const auto ask = [this, &question, &yes] {
        if (m_closing) {
            return;
        }
        // The question needs the window in view, also while it is minimised for sending.
        if (isMinimized()) {
            showNormal();
        }
        yes = AskYesNo(this, ToQString(question));
    };
    if (m_closing) {
        return false;
    }
    if (QThread::currentThread() == thread()) {
        ask();
    } else {
        QMetaObject::invokeMethod(this, ask, Qt::BlockingQueuedConnection);
    }
    return yes;
}

void CDlgSendMessage::EndWindow() {
    if (m_ended) {
        return;
    }
    m_ended = true;
    SaveWindowPlacement(*this, data::WindowSection::SendMessage);
    m_options.Save();
    m_closing = true;
    m_job.Close([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
}

void CDlgSendMessage::closeEvent(QCloseEvent* event) {
    // Not QDialog's own handling, which would come back through reject().
    EndWindow();
    event->accept();
}

void CDlgSendMessage::reject() {
    close();
}

}  // namespace talvorine::client::ui
