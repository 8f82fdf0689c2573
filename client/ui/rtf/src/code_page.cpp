#include "code_page.h"

#include <array>
#include <cerrno>
#include <string>

namespace talvorine::rtf::detail {
namespace {

const iconv_t NoHandle = reinterpret_cast<iconv_t>(-1);

std::string IconvName(int codePage) {
    switch (codePage) {
        case 10000:
            return "MACINTOSH";
        case 950:
            return "BIG5";
        default:
            return "CP" + std::to_string(codePage);
    }
}

iconv_t OpenDecoder(int codePage) {
    // Little-endian UTF-16 whatever the host, assembled byte by byte below.
    return iconv_open("UTF-16LE", IconvName(codePage).c_str());
}

}  // namespace

int CodePageForCharset(int charset, int ansiCodePage) {
    switch (charset) {
        case 77:
            return 10000;
        case 128:
            return 932;
        case 129:
            return 949;
        case 134:
            return 936;
        case 136:
            return 950;
        case 161:
            return 1253;
        case 162:
            return 1254;
        case 163:
            return 1258;
        case 177:
            return 1255;
        case 178:
            return 1256;
        case 186:
            return 1257;
        case 204:
            return 1251;
        case 222:
            return 874;
        case 238:
            return 1250;
        case 254:
            return 437;
        default:
            return ansiCodePage;
    }
}

CodePageDecoder::CodePageDecoder(int codePage) : codePage_(codePage), handle_(NoHandle) {
    handle_ = OpenDecoder(codePage);
    if (handle_ == NoHandle && codePage != DefaultCodePage) {
        codePage_ = DefaultCodePage;
        handle_ = OpenDecoder(DefaultCodePage);
    }
}

CodePageDecoder::~CodePageDecoder() {
    if (handle_ != NoHandle) {
        iconv_close(handle_);
    }
}

void CodePageDecoder::Decode(std::string_view bytes, QString& out) {
    bool ascii = true;
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    // Every page the reader meets keeps ASCII as it is; most runs are plain ASCII.
    if (ascii || handle_ == NoHandle) {
        out += QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
        return;
    }
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    std::array<char, 512> buffer{};
    auto* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    const auto drain = [&](const char* end) {
        for (const char* p = buffer.data(); p + 1 < end; p += 2) {
            out += QChar(static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                               (static_cast<unsigned char>(p[1]) << 8)));
        }
    };
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t result = iconv(handle_, &in, &inLeft, &outPtr, &outLeft);
        drain(outPtr);
        if (result != static_cast<std::size_t>(-1)) {
            continue;
        }
        if (errno == E2BIG) {
            continue;
        }
        // An undefined byte or an incomplete double-byte character at the end of the run.
        char* flushPtr = buffer.data();
        std::size_t flushLeft = buffer.size();
        iconv(handle_, nullptr, nullptr, &flushPtr, &flushLeft);
        drain(flushPtr);
        out += QChar(QChar::ReplacementCharacter);
        ++in;
        --inLeft;
    }
    // Stateful pages (1255, 1258) hold back a character that might take a combining mark.
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    iconv(handle_, nullptr, nullptr, &outPtr, &outLeft);
    drain(outPtr);
}

}  // namespace talvorine::rtf::detail
