#pragma once
// Windows code pages to Unicode for the reader's \'hh bytes and 8-bit text, through the C
// library's iconv, which knows the single-byte pages (1250-1258, 437, 850, Macintosh) and the
// double-byte ones (932, 936, 949, 950) alike.

#include <iconv.h>

#include <QString>
#include <string_view>

namespace talvorine::rtf::detail {

inline constexpr int DefaultCodePage = 1252;

// The code page of a font's \fcharsetN; `ansiCodePage` for the charsets that mean "the
// document's own" (0 ANSI, 1 default, 2 symbol) or are unknown.
int CodePageForCharset(int charset, int ansiCodePage);

class CodePageDecoder {
public:
    // A code page iconv does not know falls back to 1252, and failing that to Latin-1.
    explicit CodePageDecoder(int codePage);
    ~CodePageDecoder();
    CodePageDecoder(const CodePageDecoder&) = delete;
    CodePageDecoder& operator=(const CodePageDecoder&) = delete;

    int CodePage() const { return codePage_; }

    // Appends the bytes' characters to `out`; a byte sequence the page does not define becomes
    // U+FFFD. Never more characters than bytes.
    void Decode(std::string_view bytes, QString& out);

private:
    int codePage_;
    iconv_t handle_;
};

}  // namespace talvorine::rtf::detail
