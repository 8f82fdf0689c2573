// GMime, the mail-header library of GNOME, does the decoding: it knows the encoded-word rules
// and their common deviations (words split inside a character, encoded words without blanks
// between them) that a decoder of our own would get wrong.
#include "talvorine/mailpoll/header_text.h"

#include <gmime/gmime.h>

#include <memory>
#include <mutex>

namespace talvorine::mailpoll {

namespace {

struct GFree {
    void operator()(char* text) const { g_free(text); }
};

GMimeParserOptions* Options() {
    static GMimeParserOptions* options = [] {
        g_mime_init();
        auto* created = g_mime_parser_options_new();
        // Bytes that are not UTF-8 are most likely Latin-1 in this kind of mail.
        static const char* charsets[] = {"UTF-8", "ISO-8859-1", nullptr};
        g_mime_parser_options_set_fallback_charsets(created, charsets);
        g_mime_parser_options_set_rfc2047_compliance_mode(created, GMIME_RFC_COMPLIANCE_LOOSE);
        return created;
    }();
    return options;
}

}  // namespace

std::string DecodeHeaderText(std::string_view raw) {
    if (raw.find("=?") == std::string_view::npos &&
        g_utf8_validate(raw.data(), static_cast<gssize>(raw.size()), nullptr)) {
        return std::string(raw);
    }
    const std::string text(raw.substr(0, raw.find('\0')));
    const std::unique_ptr<char, GFree> decoded(
        g_mime_utils_header_decode_text(Options(), text.c_str()));
    return decoded ? std::string(decoded.get()) : text;
}

}  // namespace talvorine::mailpoll
