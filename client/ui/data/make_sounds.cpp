// Writes the client's nine event sounds as short synthesised WAV files (16-bit mono PCM,
// 22050 Hz) into the folder given on the command line: each event has its own little tune,
// so the sounds are ours and need no recording.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "talvorine/client/data/client_settings.h"
#include "talvorine/platform/little_endian.h"

namespace {

constexpr int Rate = 22050;

struct Note {
    double frequency;  // 0 is a rest
    double seconds;
};

std::vector<std::int16_t> Render(const std::vector<Note>& tune) {
    std::vector<std::int16_t> samples;
    for (const Note& note : tune) {
        const int count = static_cast<int>(note.seconds * Rate);
        for (int i = 0; i < count; ++i) {
            const double t = static_cast<double>(i) / Rate;
            // A short attack and an exponential decay keep the tones soft and click-free.
            const double envelope = std::min(1.0, t / 0.005) * std::exp(-4.0 * t / note.seconds);
            const double phase = 2.0 * std::numbers::pi * note.frequency * t;
            const double value =
                note.frequency > 0 ? envelope * (0.8 * std::sin(phase) + 0.2 * std::sin(2 * phase))
                                   : 0.0;
            samples.push_back(static_cast<std::int16_t>(value * 0.5 * 32767));
        }
    }
    return samples;
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::uint8_t bytes[4];
    talvorine::platform::StoreLe32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

void Put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    std::uint8_t bytes[2];
    talvorine::platform::StoreLe16(bytes, value);
    out.insert(out.end(), bytes, bytes + 2);
}

bool WriteWav(const std::filesystem::path& file, const std::vector<std::int16_t>& samples) {
    const auto dataSize = static_cast<std::uint32_t>(samples.size() * 2);
    std::vector<std::uint8_t> out;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    Put32(out, 36 + dataSize);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(out, 16);
    Put16(out, 1);  // PCM
    Put16(out, 1);  // mono
    Put32(out, Rate);
    Put32(out, Rate * 2);
    Put16(out, 2);
    Put16(out, 16);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    Put32(out, dataSize);
    for (std::int16_t sample : samples) {
        Put16(out, static_cast<std::uint16_t>(sample));
    }
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    stream.write(reinterpret_cast<const char*>(out.data()),
                 static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(stream);
}

// One tune per event, in the order of the event table.
const std::vector<Note> Tunes[] = {
    {{523.25, 0.12}, {659.25, 0.12}, {783.99, 0.12}, {1046.5, 0.3}},  // Startup
    {{880.0, 0.1}, {1174.66, 0.18}},                                  // Incoming Message
    {{1174.66, 0.08}, {880.0, 0.12}},                                 // Message Sent
    {{659.25, 0.1}, {0, 0.04}, {659.25, 0.1}, {987.77, 0.2}},         // Chat Request
    {{587.33, 0.12}, {783.99, 0.12}, {587.33, 0.16}},                 // File Request
    {{1318.5, 0.08}, {1046.5, 0.08}, {1318.5, 0.16}},                 // New Mail Arrived
    {{783.99, 0.1}, {1046.5, 0.22}},                                  // File Sent
    {{698.46, 0.1}, {880.0, 0.18}},                                   // User Online
    {{1046.5, 0.12}, {783.99, 0.12}, {659.25, 0.12}, {523.25, 0.3}},  // Shutdown
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    for (std::size_t i = 0; i < talvorine::client::data::SoundEventCount; ++i) {
        const auto& event = talvorine::client::data::SoundEvents[i];
        const auto file = folder / std::string(event.defaultFile);
        if (!WriteWav(file, Render(Tunes[i]))) {
            std::fprintf(stderr, "cannot write %s\n", file.c_str());
            return 1;
        }
    }
    return 0;
}
