// libFuzzer entry for the RTF reader: every input is read into a document and into plain text.
// The reader must not crash, and must not make more characters than the input has bytes.

#include <QGuiApplication>
#include <QTextDocument>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "talvorine/client/ui/rtf/rtf_codec.h"

namespace {

// QTextDocument needs a GUI application for its fonts; one for the whole run.
QGuiApplication& Application() {
    static int argc = 1;
    static char name[] = "rtf_reader_fuzz";
    static char* argv[] = {name, nullptr};
    static const bool platform = qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication application(argc, argv);
    (void)platform;
    return application;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Application();
    const std::string_view rtf(reinterpret_cast<const char*>(data), size);
    QTextDocument document;
    talvorine::rtf::ReadRtf(rtf, document);
    if (static_cast<std::size_t>(document.characterCount()) > size + 1) {
        std::abort();
    }
    const std::string plain = talvorine::rtf::ReadRtfToPlainText(rtf);
    // Each UTF-16 unit of the text came from at least one byte; UTF-8 takes at most 3 per unit.
    if (talvorine::rtf::LooksLikeRtf(rtf) && plain.size() > 3 * size) {
        std::abort();
    }
    return 0;
}
