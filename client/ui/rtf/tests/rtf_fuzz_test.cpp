// Random and mutated RTF, seeded and bounded by iteration count: the reader must neither crash
// nor make more text than its input holds, and random documents must survive the round trip.
// Run under the asan preset, this also checks every access the reader makes.

#include <gtest/gtest.h>

#include <QTextCursor>
#include <QTextDocument>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "rtf_test_support.h"
#include "talvorine/client/ui/rtf/rtf_codec.h"

namespace talvorine::rtf {
namespace {

// Inputs per test. Under the sanitizers every allocation is traced, so fewer inputs keep the
// run inside the test time-out while still reaching every branch many times over.
#if defined(__SANITIZE_ADDRESS__)
constexpr int Inputs = 2000;
#else
constexpr int Inputs = 10000;
#endif

// Pieces RTF is made of, so that random input reaches deep into the reader.
constexpr std::array<const char*, 44> Tokens = {
    "{",           "}",         "{\\rtf1",   "\\par ", "\\b",       "\\b0 ",        "\\i ",
    "\\ul",        "\\ulnone ", "\\strike ", "\\f",    "\\fs",      "\\cf",         "\\cb",
    "\\u",         "\\uc",      "\\'",       "\\bin",  "\\*",       "\\fonttbl",    "\\colortbl",
    "\\red",       "\\green",   "\\blue",    ";",      "\\ansicpg", "\\fcharset",   "\\pard",
    "\\qc ",       "\\plain ",  "\\line ",   "\\tab ", "\\pict ",   "\\stylesheet", " ",
    "text",        "\\\\",      "\\{",       "-",      "\\~",       "\\deff",       "\r\n",
    "\\highlight", "\\sect "};

std::string RandomNumber(std::mt19937& random) {
    switch (random() % 5) {
        case 0:
            return std::to_string(random() % 40);
        case 1:
            return std::to_string(static_cast<int>(random() % 70000) - 35000);
        case 2:
            return "2147483647";
        case 3:
            return "99999999999999999999";
        default:
            return "";
    }
}

std::string RandomRtf(std::mt19937& random, std::size_t tokens) {
    std::string rtf = "{\\rtf1 ";
    for (std::size_t i = 0; i < tokens; ++i) {
        switch (random() % 8) {
            case 0:
                rtf += static_cast<char>(random() % 256);
                break;
            case 1: {
                static constexpr char Hex[] = "0123456789abcdefXZ";
                rtf += Hex[random() % 18];
                break;
            }
            default: {
                const std::string token = Tokens[random() % Tokens.size()];
                rtf += token;
                if (token.size() > 1 && token.back() != ' ' && token[0] == '\\') {
                    rtf += RandomNumber(random);
                }
                if (random() % 3 == 0) {
                    rtf += ' ';
                }
            }
        }
    }
    return rtf;
}

void Mutate(std::mt19937& random, std::string& rtf) {
    const std::size_t edits = 1 + random() % 8;
    for (std::size_t i = 0; i < edits && !rtf.empty(); ++i) {
        const std::size_t at = random() % rtf.size();
        switch (random() % 6) {
            case 0:
                rtf[at] = static_cast<char>(rtf[at] ^ (1 << (random() % 8)));
                break;
            case 1:
                rtf.erase(at, 1 + random() % 16);
                break;
            case 2:
                rtf.insert(at, Tokens[random() % Tokens.size()]);
                break;
            case 3:
                rtf.insert(at, rtf.substr(random() % rtf.size(), 1 + random() % 64));
                break;
            case 4:
                rtf.resize(at);
                break;
            default:
                rtf[at] = "{}\\'"[random() % 4];
                break;
        }
    }
}

// What every input must give: no more characters than bytes, and the same text either way.
void CheckRead(const std::string& rtf) {
    SCOPED_TRACE(rtf.substr(0, 400));
    QTextDocument document;
    ReadRtf(rtf, document);
    EXPECT_LE(static_cast<std::size_t>(document.characterCount()), rtf.size() + 1);
    const std::string plain = ReadRtfToPlainText(rtf);
    if (LooksLikeRtf(rtf)) {
        // Paragraph and line separators are '\n' in the plain text; otherwise both agree.
        QString text = document.toRawText();
        text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        text.replace(QChar::LineSeparator, QLatin1Char('\n'));
        EXPECT_EQ(text.toStdString(), plain);
    }
}

TEST(RtfFuzz, RandomRtfIsReadSafely) {
    std::mt19937 random(20261208);
    for (int i = 0; i < Inputs; ++i) {
        CheckRead(RandomRtf(random, 1 + random() % 400));
        if (::testing::Test::HasFailure()) {
            FAIL() << "iteration " << i;
        }
    }
}

TEST(RtfFuzz, MutatedRtfFromOtherProgramsIsReadSafely) {
    std::vector<std::string> seeds = {testing::Fixture("abiword_formats.rtf"),
                                      testing::Fixture("libreoffice_formats.rtf"),
                                      testing::Fixture("pandoc_document.rtf")};
    QTextDocument sample;
    QTextCursor cursor(&sample);
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    bold.setForeground(Qt::red);
    cursor.insertText(QString::fromUtf8("Grüße "), bold);
    cursor.insertBlock();
    cursor.insertText(QString::fromUtf8("日本語 {x} \\ 😀"));
    seeds.push_back(WriteRtf(sample));

    std::mt19937 random(1208);
    for (int i = 0; i < Inputs; ++i) {
        std::string rtf = seeds[random() % seeds.size()];
        Mutate(random, rtf);
        CheckRead(rtf);
        if (::testing::Test::HasFailure()) {
            FAIL() << "iteration " << i;
        }
    }
}

// Random documents, written and read back, keep their text and formats exactly.
TEST(RtfFuzz, RandomDocumentsSurviveTheRoundTrip) {
    const QString alphabet = QString::fromUtf8("ab Z09{}\\;?'-\t\u2028éß€日😀\u00A0");
    const std::array<QString, 3> families = {"Courier New", "Arial", "DejaVu Serif"};
    const std::array<QColor, 3> colors = {QColor(255, 0, 0), QColor(0, 0, 0), QColor(18, 52, 86)};
    std::mt19937 random(42);
    for (int i = 0; i < 300; ++i) {
        QTextDocument document;
        QTextCursor cursor(&document);
        const int runs = 1 + static_cast<int>(random() % 20);
        for (int r = 0; r < runs; ++r) {
            if (random() % 5 == 0) {
                QTextBlockFormat block;
                block.setAlignment(random() % 2 ? Qt::AlignHCenter : Qt::AlignLeft);
                cursor.insertBlock(block);
            }
            QTextCharFormat format;
            format.setFontFamilies({families[random() % families.size()]});
            format.setFontPointSize(1 + static_cast<double>(random() % 144) / 2);
            if (random() % 2) {
                format.setFontWeight(QFont::Bold);
            }
            format.setFontItalic(random() % 2);
            format.setFontUnderline(random() % 2);
            format.setFontStrikeOut(random() % 2);
            if (random() % 2) {
                format.setForeground(colors[random() % colors.size()]);
            }
            if (random() % 3 == 0) {
                format.setBackground(colors[random() % colors.size()]);
            }
            QString text;
            const int length = static_cast<int>(random() % 12);
            for (int c = 0; c < length; ++c) {
                const QChar ch = alphabet[static_cast<qsizetype>(random() % alphabet.size())];
                // Keep surrogate pairs whole.
                if (ch.isHighSurrogate() || ch.isLowSurrogate()) {
                    text += QString::fromUtf8("😀");
                } else {
                    text += ch;
                }
            }
            cursor.insertText(text, format);
        }
        const std::string rtf = WriteRtf(document);
        QTextDocument back;
        ReadRtf(rtf, back);
        ASSERT_EQ(back.toPlainText(), document.toPlainText()) << rtf;
        ASSERT_EQ(back.blockCount(), document.blockCount()) << rtf;
        // Same formats everywhere: written again, it is the same RTF.
        ASSERT_EQ(WriteRtf(back), rtf);
    }
}

}  // namespace
}  // namespace talvorine::rtf
