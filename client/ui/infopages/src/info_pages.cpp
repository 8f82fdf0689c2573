#include <QDesktopServices>

#include "page_fields.h"
#include "talvorine/platform/text.h"

namespace talvorine::infopages {

UrlOpener DesktopUrlOpener() {
    return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

std::optional<QUrl> MailTarget(const QString& address) {
    QString trimmed = address.trimmed();
    if (trimmed.isEmpty()) {
        return std::nullopt;
    }
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(trimmed);
    url.setQuery(QStringLiteral("subject=Hi!"));
    if (!url.isValid()) {
        return std::nullopt;
    }
    return url;
}

std::optional<QUrl> HomePageTarget(const QString& text) {
    QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return std::nullopt;
    }
    QUrl url(trimmed, QUrl::StrictMode);
    if (url.scheme().isEmpty()) {
        url = QUrl(QStringLiteral("http://") + trimmed, QUrl::StrictMode);
    }
    QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty()) {
        return std::nullopt;
    }
    return url;
}

namespace detail {

QLineEdit* MakeField(QWidget* parent, const char* name, std::size_t width, InfoMode mode) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(static_cast<int>(width - 1));
    edit->setReadOnly(mode == InfoMode::Contact);
    return edit;
}

QLineEdit* AddField(QFormLayout* form, const QString& label, const char* name, std::size_t width,
                    InfoMode mode) {
    QLineEdit* edit = MakeField(form->parentWidget(), name, width, mode);
    auto* caption = new QLabel(label, form->parentWidget());
    caption->setBuddy(edit);
    form->addRow(caption, edit);
    return edit;
}

QString Shown(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Stored(const QString& text, std::size_t width) {
    QByteArray bytes = text.toUtf8();
    return std::string(
        platform::CutUtf8(std::string_view(bytes.constData(), bytes.size()), width - 1));
}

}  // namespace detail

}  // namespace talvorine::infopages
