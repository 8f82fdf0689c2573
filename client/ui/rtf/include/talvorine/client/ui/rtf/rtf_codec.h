#pragma once
// Rich text travels as RTF. This is the codec between RTF text and QTextDocument: the writer
// produces 8-bit, ASCII-only RTF that other programs read; the reader takes what other programs
// write (the Windows rich-edit control, word processors) and never trusts it.

#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

class QTextDocument;

namespace talvorine::rtf {

// What the reader honours of hostile or broken input. Work is linear in the input length.
namespace Limits {
// Groups nested deeper than this are skipped with everything inside them.
inline constexpr int MaxGroupDepth = 128;
// Font and colour table entries past these counts are ignored.
inline constexpr int MaxFonts = 1024;
inline constexpr int MaxColors = 1024;
// Font sizes are clamped to what the rich-edit control accepts (1 to 1638 points).
inline constexpr int MinPointSize = 1;
inline constexpr int MaxPointSize = 1638;
// A \ucN asks to skip at most this many fallback characters after each \uN.
inline constexpr int MaxUnicodeSkip = 16;
// A control word's name is cut here (the RTF syntax allows 32 letters); its parameter saturates.
inline constexpr std::size_t MaxControlWordLength = 32;
}  // namespace Limits

// How runs without an explicit font are written: the compose box's default character format.
struct WriteOptions {
    QString defaultFamily = QStringLiteral("Courier New");
    double defaultPointSize = 10.0;
};

// The document as RTF: font table, colour table, sizes, bold, italic, underline, strike-out,
// foreground and background colours, paragraphs with their alignment. Non-ASCII characters are
// written as \uN with a code page 1252 byte (\'hh) or '?' as the fallback for older readers.
std::string WriteRtf(const QTextDocument& document, const WriteOptions& options = {});

// Replaces the content of `into` with the RTF text. Text that does not start with "{\rtf" is
// not RTF and is shown as plain text (UTF-8), as the rich-edit control does.
void ReadRtf(std::string_view rtf, QTextDocument& into);

// The text of an RTF document without its formatting (UTF-8, paragraphs end with '\n' except
// the last), for briefs, tooltips and searching.
std::string ReadRtfToPlainText(std::string_view rtf);

// True when the text starts with "{\rtf" (leading white space allowed).
bool LooksLikeRtf(std::string_view text);

}  // namespace talvorine::rtf
