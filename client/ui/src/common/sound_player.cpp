#include "talvorine/client/ui/common/sound_player.h"

#include <QSoundEffect>
#include <QUrl>

namespace talvorine::client::ui {

SoundPlayer::SoundPlayer() = default;
SoundPlayer::~SoundPlayer() = default;

bool SoundPlayer::Play(const std::filesystem::path& file) {
    Stop();
    std::error_code ec;
    if (file.empty() || !std::filesystem::is_regular_file(file, ec)) {
        return false;
    }
    // Made on first use: an idle program without sounds never opens the audio output.
    if (!m_effect) {
        m_effect = std::make_unique<QSoundEffect>();
    }
    m_effect->setSource(QUrl::fromLocalFile(QString::fromStdString(file.string())));
    m_effect->play();
    m_last = file;
    return true;
}

void SoundPlayer::Stop() {
    if (m_effect) {
        m_effect->stop();
    }
}

bool SoundPlayer::PlayEvent(const data::ClientSettings& settings, int eventNumber) {
    const auto file = settings.SoundToPlay(eventNumber);
    return file && Play(*file);
}

}  // namespace talvorine::client::ui
