#pragma once
// The event sounds: one sound at a time, played asynchronously with QSoundEffect. A missing
// or unreadable file, or a machine without an audio device, gives silence and never an error.

#include <QObject>
#include <filesystem>
#include <memory>

#include "talvorine/client/data/client_settings.h"

class QSoundEffect;

namespace talvorine::client::ui {

class SoundPlayer {
public:
    SoundPlayer();
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Stops what plays, then starts `file`. False when nothing was started (no such file).
    bool Play(const std::filesystem::path& file);
    void Stop();
    // The event's file as the settings say (sounds on, the event's flag set, a file named).
    // False when the settings want silence or the file is missing.
    bool PlayEvent(const data::ClientSettings& settings, int eventNumber);
    // The file started last (empty before the first).
    const std::filesystem::path& LastStarted() const { return m_last; }

private:
    std::unique_ptr<QSoundEffect> m_effect;
    std::filesystem::path m_last;
};

}  // namespace talvorine::client::ui
