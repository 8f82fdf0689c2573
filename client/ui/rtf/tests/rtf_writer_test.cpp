// The writer: what it writes for the compose box's default format, that every property comes
// back through our reader, and that Debian's unrtf (a reader we did not write) understands it.

#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <string>

#include "rtf_test_support.h"
#include "talvorine/client/ui/rtf/rtf_codec.h"

namespace talvorine::rtf {
namespace {

using testing::AlignmentOf;
using testing::FamilyOf;
using testing::FormatOf;

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

QTextCharFormat Bold() {
    QTextCharFormat format;
    format.setFontWeight(QFont::Bold);
    return format;
}

// A message with every property the writer knows, over three paragraphs.
void BuildSample(QTextDocument& document) {
    QTextCursor cursor(&document);
    cursor.insertText("plain ");
    cursor.insertText("bold", Bold());
    QTextCharFormat italicUnderline;
    italicUnderline.setFontItalic(true);
    italicUnderline.setFontUnderline(true);
    cursor.insertText(" italic-underline", italicUnderline);
    QTextCharFormat strike;
    strike.setFontStrikeOut(true);
    cursor.insertText(" strike", strike);
    QTextCharFormat red;
    red.setForeground(QColor(200, 0, 0));
    red.setBackground(QColor(255, 255, 0));
    cursor.insertText(" red-on-yellow", red);
    QTextCharFormat arial;
    arial.setFontFamilies({"Arial"});
    arial.setFontPointSize(14.5);
    cursor.insertText(" arial", arial);

    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    cursor.insertBlock(centred, QTextCharFormat());
    cursor.insertText(U("café € 日本 😀 {braces} back\\slash\ttab\u2028line"));
    QTextBlockFormat right;
    right.setAlignment(Qt::AlignRight);
    cursor.insertBlock(right, QTextCharFormat());
    cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    cursor.insertText("after an empty paragraph");
}

TEST(RtfWriter, DefaultFormatIsTheComposeBoxFont) {
    QTextDocument document;
    document.setPlainText("Hello");
    const std::string rtf = WriteRtf(document);
    EXPECT_EQ(rtf,
              "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fmodern\\fcharset0 Courier New;}}"
              "\r\n\\uc1\\pard\\f0\\fs20 Hello\\par\r\n}");

    QTextDocument back;
    ReadRtf(rtf, back);
    EXPECT_EQ(back.toPlainText(), "Hello");
    EXPECT_EQ(FamilyOf(FormatOf(back, "Hello")), "Courier New");
    EXPECT_DOUBLE_EQ(FormatOf(back, "Hello").fontPointSize(), 10.0);

    WriteOptions options;
    options.defaultFamily = "Liberation Sans";
    options.defaultPointSize = 9;
    EXPECT_NE(WriteRtf(document, options).find("{\\f0\\fnil\\fcharset0 Liberation Sans;}"),
              std::string::npos);
    EXPECT_NE(WriteRtf(document, options).find("\\f0\\fs18 Hello"), std::string::npos);
}

TEST(RtfWriter, NonAsciiIsUnicodeWithAFallback) {
    QTextDocument document;
    document.setPlainText(U("é€日\uFFFD😀\u00A0"));
    const std::string rtf = WriteRtf(document);
    EXPECT_TRUE(IsAscii(rtf));
    EXPECT_NE(rtf.find("\\u233\\'e9\\u8364\\'80\\u26085?\\u-3?\\u-10179?\\u-8704?\\~"),
              std::string::npos)
        << rtf;
}

TEST(RtfWriter, EveryPropertyComesBack) {
    QTextDocument document;
    BuildSample(document);
    const std::string rtf = WriteRtf(document);
    EXPECT_TRUE(IsAscii(rtf));

    QTextDocument back;
    ReadRtf(rtf, back);
    EXPECT_EQ(back.toPlainText(), document.toPlainText());
    EXPECT_EQ(back.blockCount(), 4);

    EXPECT_EQ(FamilyOf(FormatOf(back, "plain")), "Courier New");
    EXPECT_FALSE(FormatOf(back, "plain").hasProperty(QTextFormat::FontWeight));
    EXPECT_GE(FormatOf(back, "bold").fontWeight(), QFont::Bold);
    const QTextCharFormat italic = FormatOf(back, "italic");
    EXPECT_TRUE(italic.fontItalic());
    EXPECT_TRUE(italic.fontUnderline());
    EXPECT_FALSE(italic.hasProperty(QTextFormat::FontWeight));
    EXPECT_TRUE(FormatOf(back, "strike").fontStrikeOut());
    EXPECT_FALSE(FormatOf(back, "strike").fontUnderline());
    const QTextCharFormat red = FormatOf(back, "red");
    EXPECT_EQ(red.foreground().color(), QColor(200, 0, 0));
    EXPECT_EQ(red.background().color(), QColor(255, 255, 0));
    const QTextCharFormat arial = FormatOf(back, "arial");
    EXPECT_EQ(FamilyOf(arial), "Arial");
    EXPECT_DOUBLE_EQ(arial.fontPointSize(), 14.5);
    EXPECT_FALSE(arial.hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_FALSE(arial.hasProperty(QTextFormat::BackgroundBrush));

    // A new paragraph typed with the default format returns to Courier New 10.
    const QTextCharFormat second = FormatOf(back, U("café"));
    EXPECT_EQ(FamilyOf(second), "Courier New");
    EXPECT_DOUBLE_EQ(second.fontPointSize(), 10.0);
    EXPECT_EQ(AlignmentOf(back, U("café")), Qt::AlignHCenter);
    EXPECT_EQ(back.findBlockByNumber(2).blockFormat().alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignRight);
    EXPECT_EQ(AlignmentOf(back, "after"), Qt::AlignLeft);

    // Written again, the document is the same RTF.
    EXPECT_EQ(WriteRtf(back), rtf);
}

TEST(RtfWriter, FontNamesAndPixelSizes) {
    QTextDocument document;
    QTextCursor cursor(&document);
    QTextCharFormat accented;
    accented.setFontFamilies({U("Café Sans")});
    cursor.insertText("accented", accented);
    QTextCharFormat pixels;
    pixels.setProperty(QTextFormat::FontPixelSize, 16);
    cursor.insertText(" pixels", pixels);
    const std::string rtf = WriteRtf(document);
    EXPECT_NE(rtf.find("{\\f1\\fnil\\fcharset0 Caf\\u233\\'e9 Sans;}"), std::string::npos) << rtf;
    EXPECT_NE(rtf.find("\\fs24  pixels"), std::string::npos) << rtf;

    QTextDocument back;
    ReadRtf(rtf, back);
    EXPECT_EQ(FamilyOf(FormatOf(back, "accented")), U("Café Sans"));
    EXPECT_DOUBLE_EQ(FormatOf(back, "pixels").fontPointSize(), 12.0);
}

TEST(RtfWriter, EmptyDocumentAndTrailingEmptyParagraphs) {
    QTextDocument empty;
    QTextDocument back;
    ReadRtf(WriteRtf(empty), back);
    EXPECT_TRUE(back.isEmpty());

    QTextDocument document;
    document.setPlainText("a\n\n");
    ReadRtf(WriteRtf(document), back);
    EXPECT_EQ(back.toPlainText(), "a\n\n");
}

// Debian's unrtf reads what we write: the text, and the formatting its HTML output shows.
TEST(RtfWriterInterop, UnrtfReadsOurOutput) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QTextDocument document;
    BuildSample(document);
    const std::string rtf = WriteRtf(document);
    const QString path = folder.filePath("message.rtf");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(rtf.data(), static_cast<qint64>(rtf.size()));
    file.close();

    QProcess unrtf;
    unrtf.start("unrtf", {"--html", path});
    ASSERT_TRUE(unrtf.waitForStarted(10000)) << "unrtf is not installed (scripts/install-deps.sh)";
    ASSERT_TRUE(unrtf.waitForFinished(30000));
    ASSERT_EQ(unrtf.exitCode(), 0);
    const std::string html = unrtf.readAllStandardOutput().toStdString();

    for (const char* expected : {
             "<font face=\"Courier New\">",
             "plain <b>bold</b>",
             "<i><u> italic-underline</u></i>",
             "<s> strike</s>",
             "<font color=\"#c80000\">",
             "background:#ffff00\"> red-on-yellow",
             "<font face=\"Arial\">",
             "<font face=\"Arial\"><font size=\"4\">",
             "<center>caf&eacute; &euro; &#26085;&#26412;",
             "{braces} back\\slash",
             "after an empty paragraph",
         }) {
        EXPECT_NE(html.find(expected), std::string::npos) << expected << "\n" << html;
    }
}

}  // namespace
}  // namespace talvorine::rtf
