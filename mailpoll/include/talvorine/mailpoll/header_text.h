#pragma once
// Header values as people read them: encoded words (RFC 2047, "=?UTF-8?B?...?=") decoded and
// every text turned into UTF-8.

#include <string>
#include <string_view>

namespace talvorine::mailpoll {

// The value of an unstructured header (Subject) or of an address header (From) for display.
// Encoded words in any charset iconv knows are decoded (Q and B encodings); bytes outside
// encoded words are taken as UTF-8, else as ISO-8859-1; a malformed encoded word stays as it
// stands.
std::string DecodeHeaderText(std::string_view raw);

}  // namespace talvorine::mailpoll
