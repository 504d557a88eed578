#pragma once

#include <QDialog>

#include <filesystem>
#include <optional>

#include "audio/output_health.h"

class QFrame;
class QLabel;
class QPushButton;

namespace morvane {

// The About box: created once at start-up beside the main window and hidden until
// shown; OK and the title-bar close button hide it again.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    // Shows the box without blocking its owner; a box already shown comes to the front.
    void ShowInFront();

    // Where the settings and the recordings are kept, for the box's notes: a user looks
    // here first for a recording just made.
    void ShowFileLocations(const std::filesystem::path& settingsFile,
                           const std::filesystem::path& recordingDirectory);

    // The audio path's figures, below the notes: the output in use and its device, its
    // rate, buffer and added latency, whether its thread runs real-time, the underruns
    // since it opened, and whether the buffer grew because they kept coming. Without an
    // output (a lost or missing device) the box says that none plays.
    void ShowOutputHealth(const std::optional<OutputHealth>& health, bool bufferGrown);

    QFrame* NotesPanel;
    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Comments;
    QLabel* NoticeLabel;
    QLabel* RecordingLimitLabel;
    QLabel* SettingsFileLabel;
    QLabel* RecordingsLabel;
    QLabel* LfoHintLabel;
    QFrame* HealthPanel;
    QLabel* OutputLabel;
    QLabel* FormatLabel;
    QLabel* StateLabel;
    QPushButton* OKButton;

private:
    void ShowProduct();
    void OKButtonClick();
};

} // namespace morvane
