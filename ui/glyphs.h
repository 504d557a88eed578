#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <array>

// The small pictures of the program, drawn in code so that no image files have to be
// shipped beside the executable.
namespace morvane {

// The button glyphs are 12 by 12 pixels in a 16-colour style: hard edges, no
// anti-aliasing, a transparent background.
inline constexpr int kGlyphSize = 12;

// The record button's glyph "BMP_REC": a red disc.
QPixmap RecordGlyph();
// The record button's glyph "BMP_STOP", shown while recording: two dark blue upright bars.
QPixmap StopGlyph();
// The glyph of btnOutput: a loudspeaker with its sound waves.
QPixmap LoudspeakerGlyph();

// The sizes at which the program icon is drawn for the window icon and the desktop.
inline constexpr std::array kProgramIconSizes{16, 24, 32, 48, 64, 128, 256};

// The program icon drawn at size by size pixels; works without a running application,
// so a build step can write it out as PNG files.
QImage ProgramIconImage(int size);
// The program icon at every size of kProgramIconSizes, for the window and the About box.
QIcon ProgramIcon();

} // namespace morvane
