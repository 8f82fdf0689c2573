#pragma once
// Dialogs and property pages fade in when they appear, as the general options say: the
// window's opacity (a page's opacity effect) rises from 0 to 1 over the animation time.

#include <cstdint>

#include "talvorine/client/data/client_settings.h"

class QWidget;

namespace talvorine::client::ui {

struct FadeSettings {
    bool windows = true;
    bool pages = true;
    std::uint32_t milliseconds = 200;

    static FadeSettings From(const data::ClientSettings& settings) {
        return {settings.windowAnimation, settings.propertyPageAnimation, settings.animationTime};
    }
};

// Makes `window` fade in each time it is shown (nothing when fading windows is off).
void FadeInWindow(QWidget* window, const FadeSettings& fade);
// Makes a property page fade in each time it is shown (nothing when fading pages is off).
void FadeInPage(QWidget* page, const FadeSettings& fade);

}  // namespace talvorine::client::ui
