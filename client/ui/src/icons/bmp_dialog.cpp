#include "talvorine/client/ui/icons/bmp_dialog.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/icons/user_pictures.h"

namespace talvorine::client::ui::icons {

namespace {

QStringList NameFilters(std::string_view filter) {
    QStringList filters;
    for (const auto& [name, pattern] : SplitFilter(filter)) {
        QString patterns = ToQString(pattern);
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // "*.*" means every file, also those without a dot.
        patterns.replace(QStringLiteral("*.*"), QStringLiteral("*"));
        filters << ToQString(name) + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters;
}

}  // namespace

CBmpPreviewBox::CBmpPreviewBox(QWidget* parent) : QWidget(parent) {
    setObjectName("previewPicture");
    setFixedSize(96, 96);
    setAccessibleName(QStringLiteral("Preview"));
}

void CBmpPreviewBox::SetImage(const QImage& image) {
    m_image = image;
    update();
}

void CBmpPreviewBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.setPen(palette().mid().color());
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    if (m_image.isNull()) {
        return;
    }
    const QRect inner = rect().adjusted(1, 1, -1, -1);
    const PreviewPlace place =
        PlacePreview(m_image.width(), m_image.height(), inner.width(), inner.height());
    painter.drawImage(QRect(inner.x() + place.x, inner.y() + place.y, place.width, place.height),
                      m_image);
}

CBmpDialog::CBmpDialog(QWidget* parent, std::string_view filter, std::string_view defaultExtension,
                       const QString& folder, bool& showPreview)
    : QFileDialog(parent), m_remembered(showPreview) {
    setObjectName("bmpDialog");
    setWindowTitle(ToQString(PictureText::ChooserTitle));
    // The toolkit's own dialog: a desktop's native one cannot carry the panel.
    setOption(QFileDialog::DontUseNativeDialog, true);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setNameFilters(NameFilters(filter));
    setDefaultSuffix(ToQString(defaultExtension));
    if (!folder.isEmpty()) {
        setDirectory(folder);
    }

    auto* panel = new QGroupBox(QStringLiteral("Preview"), this);
    panel->setObjectName("previewPanel");
    auto* row = new QHBoxLayout(panel);
    m_box = new CBmpPreviewBox(panel);
    row->addWidget(m_box);
    auto* column = new QVBoxLayout;
    static constexpr const char* names[] = {"previewWidth", "previewHeight", "previewColors",
                                            "previewSize"};
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        m_lines[i] = new QLabel(panel);
        m_lines[i]->setObjectName(names[i]);
        m_lines[i]->setMinimumWidth(fontMetrics().horizontalAdvance("Colors: 2 (monocromatic)") +
                                    8);
        column->addWidget(m_lines[i]);
    }
    m_showPreview = new QCheckBox(QStringLiteral("Show Preview"), panel);
    m_showPreview->setObjectName("showPreview");
    m_showPreview->setChecked(m_remembered);
    column->addWidget(m_showPreview);
    column->addStretch(1);
    row->addLayout(column, 1);
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
        grid->addWidget(panel, grid->rowCount(), 0, 1, grid->columnCount());
    } else {
        layout()->addWidget(panel);
    }

    connect(this, &QFileDialog::currentChanged, this, [this](const QString& path) {
        m_current = path;
        if (m_showPreview->isChecked()) {
            Preview(path);
        }
    });
    connect(m_showPreview, &QCheckBox::toggled, this, [this](bool on) {
        m_remembered = on;
        if (on) {
            Preview(m_current);
        } else {
            ClearPreview();
        }
    });
}

QString CBmpDialog::ChooseFile() {
    const bool chosen = exec() == QDialog::Accepted && !selectedFiles().isEmpty();
    // The loaded bitmap is released with the choice.
    ClearPreview();
    return chosen ? selectedFiles().constFirst() : QString();
}

void CBmpDialog::Preview(const QString& path) {
    m_current = path;
    ClearPreview();
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile()) {
        return;
    }
    QImageReader reader(path, "BMP");
    reader.setDecideFormatFromContent(false);
    const QImage image = reader.read();
    if (image.isNull()) {
        return;
    }
    QFile file(path);
    std::optional<BitmapHeader> header;
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray start = file.read(64);
        header =
            ReadBitmapHeader(std::span(reinterpret_cast<const std::uint8_t*>(start.constData()),
                                       static_cast<std::size_t>(start.size())));
    }
    if (!header) {
        header = BitmapHeader{image.width(), image.height(), image.depth()};
    }
    const PreviewLines lines = MakePreviewLines(*header, static_cast<std::uintmax_t>(info.size()));
    m_lines[0]->setText(ToQString(lines.width));
    m_lines[1]->setText(ToQString(lines.height));
    m_lines[2]->setText(ToQString(lines.colours));
    m_lines[3]->setText(ToQString(lines.size));
    m_box->SetImage(image);
}

QString CBmpDialog::PreviewLine(int line) const {
    return line >= 0 && line < static_cast<int>(m_lines.size())
               ? m_lines[static_cast<std::size_t>(line)]->text()
               : QString();
}

void CBmpDialog::ClearPreview() {
    m_box->SetImage(QImage());
    for (QLabel* line : m_lines) {
        line->clear();
    }
}

}  // namespace talvorine::client::ui::icons
