// From and Subject as the mail list shows them: encoded words decoded, texts in UTF-8.

#include "talvorine/mailpoll/header_text.h"

#include <gtest/gtest.h>

namespace talvorine::mailpoll {
namespace {

TEST(HeaderText, EncodedWordsInBothEncodingsAndCharsetsAreDecoded) {
    // B encoding, UTF-8; the address after the name stays as it is.
    EXPECT_EQ(DecodeHeaderText("=?UTF-8?B?SsO8cmdlbiBNw7xsbGVy?= <juergen@example.org>"),
              "Jürgen Müller <juergen@example.org>");
    // Q encoding, UTF-8, "_" for a blank; lower-case charset and encoding letters.
    EXPECT_EQ(DecodeHeaderText("=?utf-8?q?Gr=C3=BC=C3=9Fe_aus_M=C3=BCnchen?="),
              "Grüße aus München");
    // ISO-8859-1 in both encodings.
    EXPECT_EQ(DecodeHeaderText("=?ISO-8859-1?Q?Fran=E7ois_L=E9vesque?= <f@example.org>"),
              "François Lévesque <f@example.org>");
    EXPECT_EQ(DecodeHeaderText("=?ISO-8859-1?B?SvxyZ2Vu?="), "Jürgen");
    // Adjacent encoded words join without the blank between them; text around them stays.
    EXPECT_EQ(DecodeHeaderText("Re: =?UTF-8?Q?M=C3=BC?= =?UTF-8?Q?ller?= (2)"), "Re: Müller (2)");
}

TEST(HeaderText, PlainMalformedAndRawTextsAreShownAsTheyStand) {
    EXPECT_EQ(DecodeHeaderText("Lunch at noon?"), "Lunch at noon?");
    EXPECT_EQ(DecodeHeaderText(""), "");
    EXPECT_EQ(DecodeHeaderText("Größe"), "Größe");  // already UTF-8
    // Malformed encoded words: no end, an unknown encoding, broken base64.
    EXPECT_EQ(DecodeHeaderText("=?UTF-8?B?SsO8cmdlbg"), "=?UTF-8?B?SsO8cmdlbg");
    EXPECT_EQ(DecodeHeaderText("=?UTF-8?X?abc?= rest"), "=?UTF-8?X?abc?= rest");
    EXPECT_EQ(DecodeHeaderText("a =? b ?= c"), "a =? b ?= c");
    // Raw Latin-1 bytes, as old mailers send them, become UTF-8 rather than broken text.
    EXPECT_EQ(DecodeHeaderText("Caf\xe9 cr\xe8me"), "Café crème");
}

}  // namespace
}  // namespace talvorine::mailpoll
