// The reader on RTF other programs wrote, on the rich-edit control's code pages, and on broken
// input it must survive with the text kept.

#include <gtest/gtest.h>

#include <QColor>
#include <QTextDocument>
#include <string>

#include "rtf_test_support.h"
#include "talvorine/client/ui/rtf/rtf_codec.h"

namespace talvorine::rtf {
namespace {

using testing::AlignmentOf;
using testing::FamilyOf;
using testing::Fixture;
using testing::FormatOf;
using testing::PlainOf;

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// AbiWord and LibreOffice wrote the same page (fixtures/formats.html), each in its own way.
void ExpectFormatsPage(const QTextDocument& document, const QString& arialFamily) {
    const std::string plain = PlainOf(document);
    EXPECT_EQ(plain.rfind("Plain Courier New ten point.\n", 0), 0u) << plain;
    EXPECT_NE(plain.find("Bold italic underlined struck out and bold italic.\n"),
              std::string::npos);
    EXPECT_NE(plain.find("Non-ASCII: café, Grüße, € 5 — “quoted”, Ελληνικά, Русский, 日本語."),
              std::string::npos)
        << plain;
    // Style sheets, document information and the \* groups show nothing.
    for (const char* hidden : {"Heading", "Normal", "Default Page Style", "LibreOffice"}) {
        EXPECT_EQ(plain.find(hidden), std::string::npos) << hidden;
    }

    const QTextCharFormat courier = FormatOf(document, "Plain Courier");
    EXPECT_EQ(FamilyOf(courier), "Courier New");
    EXPECT_DOUBLE_EQ(courier.fontPointSize(), 10.0);
    EXPECT_FALSE(courier.fontWeight() >= QFont::DemiBold);

    EXPECT_GE(FormatOf(document, "Bold").fontWeight(), QFont::Bold);
    EXPECT_TRUE(FormatOf(document, "italic").fontItalic());
    EXPECT_FALSE(FormatOf(document, "italic").fontUnderline());
    EXPECT_TRUE(FormatOf(document, "underlined").fontUnderline());
    EXPECT_TRUE(FormatOf(document, "struck out").fontStrikeOut());
    const QTextCharFormat both = FormatOf(document, "bold italic");
    EXPECT_TRUE(both.fontItalic());
    EXPECT_GE(both.fontWeight(), QFont::Bold);

    EXPECT_EQ(FormatOf(document, "Red text").foreground().color(), QColor(255, 0, 0));
    const QTextCharFormat big = FormatOf(document, "big blue Arial");
    EXPECT_EQ(big.foreground().color(), QColor(0, 0, 255));
    EXPECT_DOUBLE_EQ(big.fontPointSize(), 16.0);
    EXPECT_EQ(FamilyOf(big), arialFamily);
    EXPECT_FALSE(FormatOf(document, "yellow").hasProperty(QTextFormat::ForegroundBrush));

    EXPECT_EQ(AlignmentOf(document, "Centred paragraph"), Qt::AlignHCenter);
    EXPECT_EQ(AlignmentOf(document, "Red text"), Qt::AlignLeft);
}

TEST(RtfReaderFixtures, AbiWordKeepsTextAndFormatting) {
    QTextDocument document;
    ReadRtf(Fixture("abiword_formats.rtf"), document);
    ExpectFormatsPage(document, "Nimbus Roman");
}

TEST(RtfReaderFixtures, LibreOfficeKeepsTextAndFormatting) {
    QTextDocument document;
    ReadRtf(Fixture("libreoffice_formats.rtf"), document);
    ExpectFormatsPage(document, "Arial");
    EXPECT_EQ(FormatOf(document, "yellow").background().color(), QColor(255, 255, 0));
    // \plain returns to the document's default font, \deff3.
    EXPECT_EQ(FamilyOf(FormatOf(document, "Red text")), "DejaVu Serif");
    // The closing \par adds no empty paragraph.
    EXPECT_EQ(document.blockCount(), 5);
}

TEST(RtfReaderFixtures, PandocKeepsTextFormattingAndLinkText) {
    QTextDocument document;
    ReadRtf(Fixture("pandoc_document.rtf"), document);
    const std::string plain = PlainOf(document);

    EXPECT_EQ(plain,
              "A short message\n"
              "First paragraph with bold, italic, struck out and code.\n"
              "Second paragraph: café, Grüße, € 5 — “quoted”, Ελληνικά, Русский, 日本語, and an "
              "emoji 😀.\n"
              "A link: the office wiki.");

    const QTextCharFormat heading = FormatOf(document, "A short");
    EXPECT_GE(heading.fontWeight(), QFont::Bold);
    EXPECT_DOUBLE_EQ(heading.fontPointSize(), 18.0);
    EXPECT_EQ(FamilyOf(heading), "Helvetica");
    // The heading's group closed: the next paragraph is neither bold nor large.
    EXPECT_FALSE(FormatOf(document, "First").hasProperty(QTextFormat::FontWeight));
    EXPECT_GE(FormatOf(document, "bold,").fontWeight(), QFont::Bold);
    EXPECT_TRUE(FormatOf(document, "italic").fontItalic());
    EXPECT_TRUE(FormatOf(document, "struck").fontStrikeOut());
    EXPECT_EQ(FamilyOf(FormatOf(document, "code")), "Courier");
    const QTextCharFormat link = FormatOf(document, "the office wiki");
    EXPECT_TRUE(link.fontUnderline());
    EXPECT_TRUE(link.isAnchor());
    EXPECT_EQ(link.anchorHref(), "http://intranet.example/wiki");
    EXPECT_FALSE(FormatOf(document, "A link").isAnchor());
}

// What the rich-edit control writes: \ansicpgN, \fcharsetN fonts and \'hh bytes.
TEST(RtfReaderCodePages, BytesFollowTheDocumentAndFontCodePages) {
    const std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1250\\deff0\\deflang1045{\\fonttbl{\\f0\\fswiss\\fcharset238 "
        "Arial;}{\\f1\\fnil\\fcharset204 Tahoma;}{\\f2\\fnil\\fcharset128 MS Gothic;}{\\f3\\fnil"
        "\\fcharset0 Tahoma;}}\r\n"
        "\\viewkind4\\uc1\\pard\\f0\\fs20 Za\\'bf\\'f3\\'b3\\'e6 \\f1\\'cf\\'f0\\'e8\\'e2\\'e5"
        "\\'f2 \\f2\\'93\\'fa\\'8c\\'ea \\f3\\'9c\\par\r\n}";
    EXPECT_EQ(ReadRtfToPlainText(rtf), "Zażółć Привет 日語 ś");

    // Code page 1252 is the default; a byte it does not define becomes U+FFFD, never lost.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1\\ansi \\'80\\'e9\\'81}"), "€é\xEF\xBF\xBD");
    // Mac Roman, and an unknown code page falls back to 1252.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1\\mac \\'8e}"), "é");
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1\\ansi\\ansicpg99999 \\'e9}"), "é");
    // A double-byte character cut off at the end of its run.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1\\ansi\\ansicpg932 \\'93}"), "\xEF\xBF\xBD");
}

TEST(RtfReaderCodePages, FontNamesInTheirOwnCodePageOrAsUnicode) {
    QTextDocument document;
    ReadRtf(
        "{\\rtf1\\ansi{\\fonttbl{\\f0\\fnil\\fcharset128 \\'82\\'6c\\'82\\'72 \\'83\\'53"
        "\\'83\\'56\\'83\\'62\\'83\\'4e;}{\\f1\\fnil Caf\\u233\\'e9 {\\*\\falt Cafe};}}"
        "\\f0 gothic\\f1 cafe}",
        document);
    EXPECT_EQ(FamilyOf(FormatOf(document, "gothic")), U("ＭＳ ゴシック"));
    EXPECT_EQ(FamilyOf(FormatOf(document, "cafe")), U("Café"));
}

TEST(RtfReaderText, ParagraphsLinesTabsAndSpecialCharacters) {
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 one\\par two\\par}"), "one\ntwo");
    // Empty paragraphs between and after text are kept; only the closing \par adds none.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 \\par one\\par\\par two\\par\\par}"), "\none\n\ntwo\n");
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a\\line b\\tab c\\~d\\_e\\-f}"),
              "a\nb\tc\u00A0d\u2011ef");
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 \\{\\}\\\\ \\lquote x\\rquote \\emdash\\bullet}"),
              "{}\\ ‘x’—•");
    // Line ends in the RTF text are not text; "\<newline>" is a paragraph.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a\r\nb\\\nc}"), "ab\nc");

    QTextDocument document;
    ReadRtf("{\\rtf1 a\\line b\\par}", document);
    EXPECT_EQ(document.blockCount(), 1);
    EXPECT_EQ(document.toRawText(), U("a\u2028b"));
}

TEST(RtfReaderText, UnicodeAndFallbacks) {
    // \uc1 is the default: one fallback character, which may be a \'hh byte.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 \\u233?\\u8364\\'80x}"), "é€x");
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1\\uc2 \\u26085\\'93\\'fax\\uc0\\u26412 y}"), "日x本y");
    // Negative values are UTF-16 units above 32767; a surrogate pair is one character.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 \\u-30050?\\u-10179?\\u-8704?}"), "語😀");
    // A fallback is skipped only inside its group.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1\\uc3 {\\u233}abc}"), "éabc");
    // Characters the document uses as its own marks are not taken as text.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a\\u13?b\\u0?c\\u-560?\\u-4?d\\u8233?e\\u9?}"),
              "abcd\ne\t");
    // A control word counts as one fallback character.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 \\u233\\bullet x}"), "éx");
}

TEST(RtfReaderTolerance, UnknownDestinationsAndWordsAreSkipped) {
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 {\\*\\generator Riched20;}{\\*\\unknown {nested} text}"
                                 "a\\madeupword42 b{\\pict\\pngblip 89504e47}c"
                                 "{\\stylesheet{\\s0 Normal;}}{\\info{\\title T}}d}"),
              "abcd");
    // A destination word loose in the document's own group does not hide the rest.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a\\*\\foo b\\pict c}"), "abc");
    // Hidden text (\v) is not shown.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a{\\v hidden\\u233?}b\\v c\\v0 d}"), "abd");
    // An unknown destination without \* is text, as the format asks.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 {\\newthing shown}}"), "shown");
    // Binary data is skipped whatever it holds, and never past the end.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a{\\*\\blob\\bin4 }}{x}b\\bin3 {}\\c}"), "abc");
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a\\bin2147483647 xyz"), "a");
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a\\bin-5 b}"), "ab");
}

TEST(RtfReaderTolerance, BrokenStructureKeepsTheText) {
    // Groups left open at the end, stray closing braces, text after the document.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 {\\b bold {\\i both"), "bold both");
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a}}}b"), "a");
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a} trailing {\\rtf1 b}"), "a");
    // Cut inside a control word, a \'h escape or after a lone backslash.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a\\"), "a");
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a\\'4g"), "ag");
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a\\'zz"), "azz");
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a\\u"), "a");
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a\\fs"), "a");
    // Font and colour tables with missing parts.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1{\\fonttbl{\\f0 Arial}\\f1 Times;}{\\colortbl\\red9;"
                                 "\\green;}\\f9\\cf7 x}"),
              "x");
}

TEST(RtfReaderTolerance, LimitsHoldOnHostileInput) {
    // Nesting far past the limit: no recursion to overflow, the text before and after survives.
    std::string deep = "{\\rtf1 before";
    deep += std::string(200000, '{') + "lost" + std::string(200000, '}') + "after}";
    EXPECT_EQ(ReadRtfToPlainText(deep), "beforeafter");

    QTextDocument document;
    ReadRtf(
        "{\\rtf1 \\fs999999999999999999 big\\fs0 small\\fs-4 neg{\\uc2147483647 \\u65 xyz}"
        "tail}",
        document);
    EXPECT_DOUBLE_EQ(FormatOf(document, "big").fontPointSize(), Limits::MaxPointSize);
    EXPECT_DOUBLE_EQ(FormatOf(document, "small").fontPointSize(), Limits::MinPointSize);
    EXPECT_DOUBLE_EQ(FormatOf(document, "neg").fontPointSize(), Limits::MinPointSize);
    EXPECT_EQ(document.toPlainText(), U("bigsmallnegAtail"));

    // A control word longer than the format allows is still one unknown word.
    EXPECT_EQ(ReadRtfToPlainText("{\\rtf1 a\\" + std::string(10000, 'q') + " b}"), "ab");
}

TEST(RtfReaderInput, TextThatIsNotRtfIsPlainText) {
    EXPECT_FALSE(LooksLikeRtf(""));
    EXPECT_FALSE(LooksLikeRtf("hello {\\rtf1}"));
    EXPECT_TRUE(LooksLikeRtf(" \r\n{\\rtf1 x}"));
    EXPECT_EQ(ReadRtfToPlainText("plain café"), "plain café");

    QTextDocument document;
    ReadRtf("line one\r\nline {two}\nthree", document);
    EXPECT_EQ(document.toPlainText(), U("line one\nline {two}\nthree"));
    EXPECT_EQ(document.blockCount(), 3);
    ReadRtf("", document);
    EXPECT_TRUE(document.isEmpty());
}

TEST(RtfReaderInput, ReplacesTheDocumentAndKeepsItsUndoSetting) {
    QTextDocument document;
    document.setPlainText("old text");
    ASSERT_TRUE(document.isUndoRedoEnabled());
    ReadRtf("{\\rtf1 {\\b new}\\par}", document);
    EXPECT_EQ(document.toPlainText(), U("new"));
    EXPECT_TRUE(document.isUndoRedoEnabled());
    EXPECT_FALSE(document.isUndoAvailable());
}

// Hyperlink fields show their result as a link, but only to web and mail addresses: friendly
// text must not hide a file or a program.
TEST(RtfReaderFormat, HyperlinkFieldsBecomeLinks) {
    QTextDocument document;
    ReadRtf(
        "{\\rtf1 {\\field{\\*\\fldinst {HYPERLINK \"mailto:ann@example.org\" }}{\\fldrslt "
        "{mail Ann}}} {\\field{\\*\\fldinst HYPERLINK \"file:///etc/passwd\"}{\\fldrslt "
        "report}} {\\field{\\fldinst HYPERLINK https://example.org/a}{\\fldrslt web}} "
        "{\\field{\\*\\fldinst PAGE}{\\fldrslt 7}} after}",
        document);
    EXPECT_EQ(document.toPlainText(), U("mail Ann report web 7 after"));
    EXPECT_EQ(FormatOf(document, "mail Ann").anchorHref(), "mailto:ann@example.org");
    EXPECT_EQ(FormatOf(document, "web").anchorHref(), "https://example.org/a");
    for (const char* text : {"report", "7", "after"}) {
        EXPECT_FALSE(FormatOf(document, text).isAnchor()) << text;
    }
}

TEST(RtfReaderFormat, ResetsAndToggles) {
    QTextDocument document;
    ReadRtf(
        "{\\rtf1\\deff1{\\fonttbl{\\f0 Arial;}{\\f1\\fmodern Courier New;}}"
        "{\\colortbl;\\red0\\green128\\blue0;\\red255\\green255\\blue0;}"
        "\\b\\i\\uldb\\strike\\cf1\\highlight2\\fs30 all\\b0\\i0\\ulnone\\strike0 colour"
        "\\plain plain\\cb2 back\\cf0\\chcbpat0 none\\f0\\par\\pard\\qr right\\par}",
        document);
    const QTextCharFormat all = FormatOf(document, "all");
    EXPECT_GE(all.fontWeight(), QFont::Bold);
    EXPECT_TRUE(all.fontItalic());
    EXPECT_TRUE(all.fontUnderline());
    EXPECT_TRUE(all.fontStrikeOut());
    EXPECT_EQ(all.foreground().color(), QColor(0, 128, 0));
    EXPECT_EQ(all.background().color(), QColor(255, 255, 0));
    EXPECT_DOUBLE_EQ(all.fontPointSize(), 15.0);

    const QTextCharFormat colour = FormatOf(document, "colour");
    EXPECT_FALSE(colour.hasProperty(QTextFormat::FontWeight));
    EXPECT_FALSE(colour.fontItalic() || colour.fontUnderline() || colour.fontStrikeOut());
    EXPECT_EQ(colour.foreground().color(), QColor(0, 128, 0));

    // \plain returns to the default font (\deff1) without size or colour.
    const QTextCharFormat plain = FormatOf(document, "plain");
    EXPECT_EQ(FamilyOf(plain), "Courier New");
    EXPECT_FALSE(plain.hasProperty(QTextFormat::FontPointSize));
    EXPECT_FALSE(plain.hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_EQ(FormatOf(document, "back").background().color(), QColor(255, 255, 0));
    EXPECT_FALSE(FormatOf(document, "none").hasProperty(QTextFormat::BackgroundBrush));
    EXPECT_EQ(FamilyOf(FormatOf(document, "right")), "Arial");
    EXPECT_EQ(AlignmentOf(document, "all"), Qt::AlignLeft);
    EXPECT_EQ(AlignmentOf(document, "right"), Qt::AlignRight);
}

}  // namespace
}  // namespace talvorine::rtf
