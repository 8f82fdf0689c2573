#pragma once
// CBmpDialog: the file chooser of the picture fields, the toolkit's own open dialog (so the
// panel can be added) with a "Preview" panel below it: a picture box, the lines width, height,
// colours and size, and the check box "Show Preview", whose state the caller keeps for the
// rest of the program run.

#include <QFileDialog>
#include <QImage>
#include <array>
#include <string_view>

class QCheckBox;
class QLabel;

namespace talvorine::client::ui::icons {

class CBmpPreviewBox : public QWidget {
    Q_OBJECT
public:
    explicit CBmpPreviewBox(QWidget* parent);
    void SetImage(const QImage& image);
    const QImage& Image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
};

class CBmpDialog : public QFileDialog {
    Q_OBJECT
public:
    // `filter` as "name|pattern|...||"; `showPreview` is read when the dialog opens and
    // written whenever the box changes.
    CBmpDialog(QWidget* parent, std::string_view filter, std::string_view defaultExtension,
               const QString& folder, bool& showPreview);

    // The file chosen, or an empty text when the dialog was cancelled.
    QString ChooseFile();

    // The preview as shown (for tests and the screenshots).
    void Preview(const QString& path);
    QString PreviewLine(int line) const;
    const QImage& PreviewImage() const { return m_box->Image(); }
    QCheckBox* ShowPreviewBox() const { return m_showPreview; }

private:
    void ClearPreview();

    bool& m_remembered;
    QString m_current;
    CBmpPreviewBox* m_box;
    std::array<QLabel*, 4> m_lines{};
    QCheckBox* m_showPreview;
};

}  // namespace talvorine::client::ui::icons
