#pragma once
// Looking into a document the reader built: the format of a piece of text, the text as UTF-8.

#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>

// Failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace talvorine::rtf::testing {

// The character format of the first character of the first occurrence of `text`.
inline QTextCharFormat FormatOf(const QTextDocument& document, const QString& text) {
    const QTextCursor found = document.find(text, 0, QTextDocument::FindCaseSensitively);
    EXPECT_FALSE(found.isNull()) << "not in the document: " << text.toStdString();
    QTextCursor at(const_cast<QTextDocument*>(&document));
    at.setPosition(found.selectionStart() + 1);
    return at.charFormat();
}

inline Qt::Alignment AlignmentOf(const QTextDocument& document, const QString& text) {
    const QTextCursor found = document.find(text, 0, QTextDocument::FindCaseSensitively);
    EXPECT_FALSE(found.isNull()) << "not in the document: " << text.toStdString();
    return found.block().blockFormat().alignment() & Qt::AlignHorizontal_Mask;
}

inline QString FamilyOf(const QTextCharFormat& format) {
    const QStringList families = format.property(QTextFormat::FontFamilies).toStringList();
    return families.isEmpty() ? QString() : families.first();
}

inline std::string PlainOf(const QTextDocument& document) {
    return document.toPlainText().toStdString();
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot open " << path;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::string Fixture(const std::string& name) {
    return ReadFile(std::string(RTF_FIXTURES_DIR) + "/" + name);
}

}  // namespace talvorine::rtf::testing
