#pragma once

#include <QFont>

namespace morvane {

// The font of every caption of the program's windows: a proportional Japanese Gothic
// at 12 pixels.
inline constexpr const char* kCaptionFontFamily = "Noto Sans CJK JP";
inline constexpr int kCaptionFontPixels = 12;

inline QFont CaptionFont() {
    QFont font(QString::fromUtf8(kCaptionFontFamily));
    font.setPixelSize(kCaptionFontPixels);
    return font;
}

} // namespace morvane
