#pragma once

#include <QAbstractButton>
#include <QColor>

#include <array>
#include <functional>
#include <memory>

#include "engine/key_colours.h"
#include "engine/keymap.h"
#include "keyboard/layout_captions.h"

class QPainter;

namespace morvane {

class TColorButton;

using TMouseEvent = std::function<void(TColorButton* sender)>;

// A push button that draws itself: a face of Color, a three-pixel bevel on the left,
// right and bottom (none on top), sunken with a black outline while held down, and its
// caption near the bottom edge.
class TColorButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TColorButton(QWidget* parent = nullptr);

    QColor Color() const { return color_; }
    void SetColor(const QColor& color);
    QColor CaptionColor() const { return captionColor_; }
    void SetCaptionColor(const QColor& color);

    int KeyNum = 0;
    // Raw mouse presses and releases, whichever mouse button, wherever the release lands.
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;

    // Whether the button was last drawn held down; the stuck-key sweep reads it.
    bool Pressed() const { return pressed_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // itemState carries the owner-draw item state, kItemStateSelected while held down.
    void DrawButton(QPainter& canvas, int itemState);

    QColor color_{Qt::white};
    QColor captionColor_{Qt::black};
    bool pressed_ = false;
};

inline constexpr int kWhiteKeyWidth = 30;
inline constexpr int kWhiteKeyHeight = 70;
inline constexpr int kBlackKeyWidth = 26;
inline constexpr int kBlackKeyHeight = 37;
inline constexpr int kRowHeight = 70;

// The on-screen keyboard: 41 key buttons in two piano rows below the control panel,
// index = key index. A sounding key's face turns red.
class TKeyButtons : public KeyColourListener {
public:
    // Creates the buttons on parent, the lower row at panelHeight + kRowHeight, and
    // stacks them so that black keys cover the white keys they overlap.
    TKeyButtons(QWidget* parent, int panelHeight);

    TColorButton* operator[](int key) const { return buttons_[key]; }
    // The top of the lower row; the window ends one key height below it.
    int LowerRowTop() const;

    void SetKeyColour(int key, bool pressed) override;

private:
    // Each key's caption for the keyboard layout in use; again whenever it changes.
    void ShowCaptions();

    std::array<TColorButton*, kKeyCount> buttons_{};
    std::unique_ptr<LayoutChangeWatcher> layoutWatcher_;
    // Owns the deferred caption update, so that none outlives the buttons' keeper.
    QObject captionUpdates_;
    bool captionsPending_ = false;
};

} // namespace morvane
