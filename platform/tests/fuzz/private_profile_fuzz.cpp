// The private-profile (INI) reader on arbitrary file contents: every section and key is read,
// then one key is written and the file read again. The file lives in a folder of its own
// under the temporary folder, made once per run.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "talvorine/platform/private_profile.h"

namespace pf = talvorine::platform;

namespace {

std::filesystem::path ProfileFile() {
    static const std::filesystem::path file = [] {
        std::string folder = (std::filesystem::temp_directory_path() / "tlv-ini-fuzz-XXXXXX");
        if (::mkdtemp(folder.data()) == nullptr) {
            std::abort();
        }
        return std::filesystem::path(folder) / "fuzz.ini";
    }();
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto file = ProfileFile();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    pf::PrivateProfile profile(file);
    const auto sections = profile.SectionNames();
    for (const auto& section : sections) {
        for (const auto& line : profile.ReadSection(section)) {
            const auto key = line.substr(0, line.find('='));
            (void)profile.ReadString(section, key, "default", 64);
            (void)profile.ReadInt(section, key, -1);
        }
    }
    const std::string section = sections.empty() ? "Fuzz" : sections.front();
    if (profile.Write(section, "Written", "value") &&
        profile.ReadString(section, "Written", "") != "value") {
        std::abort();  // a key written must read back
    }
    return 0;
}
