#include "keyboard/onscreen_keyboard.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include "keyboard/layout_captions.h"

namespace morvane {

namespace {

const QColor kBevelLight(0xC0, 0xC0, 0xC0);
const QColor kBevelDark(0x80, 0x80, 0x80);
const QColor kSoundingColour(255, 0, 0);
constexpr int kItemStateSelected = 0x0001;
constexpr int kBevelWidth = 3;
constexpr int kCaptionBottomMargin = 5;
constexpr int kLowerRowFirstLeft = 15;
constexpr int kBlackKeyInset = 2;

// A one-pixel line that covers its start point but not its end point, as the
// bevel arithmetic expects; only vertical and horizontal lines occur.
void Line(QPainter& canvas, const QColor& colour, int x0, int y0, int x1, int y1) {
    if (x0 == x1)
        canvas.fillRect(x0, std::min(y0, y1 + 1), 1, std::abs(y1 - y0), colour);
    else
        canvas.fillRect(std::min(x0, x1 + 1), y0, std::abs(x1 - x0), 1, colour);
}

QColor RestingColour(int key) {
    return KeyAt(key).Black ? Qt::black : Qt::white;
}

} // namespace

TColorButton::TColorButton(QWidget* parent) : QAbstractButton(parent) {
    // Keys play on the mouse alone; taking the focus would also make the sweep
    // believe a control, not the window, holds the keyboard.
    setFocusPolicy(Qt::NoFocus);
}

void TColorButton::SetColor(const QColor& color) {
    color_ = color;
    update();
}

void TColorButton::SetCaptionColor(const QColor& color) {
    captionColor_ = color;
    update();
}

void TColorButton::paintEvent(QPaintEvent*) {
    QPainter canvas(this);
    DrawButton(canvas, isDown() ? kItemStateSelected : 0);
}

void TColorButton::DrawButton(QPainter& canvas, int itemState) {
    // The caption uses a plain default font; the button's own font gives only the colour.
    const QFont captionFont;
    const QFontMetrics metrics(captionFont);
    int tx = (width() - metrics.horizontalAdvance(text())) / 2;
    int ty = height() - metrics.height() - kCaptionBottomMargin;

    QColor left = kBevelLight;
    QColor right = kBevelDark;
    pressed_ = (itemState & kItemStateSelected) != 0;
    if (pressed_) {
        std::swap(left, right);
        ++tx;
        ++ty;
    }

    canvas.fillRect(rect(), color_);
    const int r = width() - 1;
    const int b = height() - 1;
    for (int i = 0; i < kBevelWidth; ++i) {
        Line(canvas, left, i, 0, i, b - i);
        Line(canvas, right, r - i, 0, r - i, b - i);
        Line(canvas, right, i, b - i, r - i, b - i);
    }
    if (pressed_) {
        Line(canvas, Qt::black, 0, 0, 0, b);
        Line(canvas, Qt::black, r, 0, r, b);
        Line(canvas, Qt::black, 0, b, r, b);
    }

    // (tx, ty) is the top left of the caption's box; QPainter writes on the baseline.
    canvas.setFont(captionFont);
    canvas.setPen(captionColor_);
    canvas.drawText(tx, ty + metrics.ascent(), text());
}

void TColorButton::mousePressEvent(QMouseEvent* event) {
    QAbstractButton::mousePressEvent(event);
    if (OnMouseDown)
        OnMouseDown(this);
}

void TColorButton::mouseReleaseEvent(QMouseEvent* event) {
    QAbstractButton::mouseReleaseEvent(event);
    if (OnMouseUp)
        OnMouseUp(this);
}

// A quick second click is an ordinary press, never a double click.
void TColorButton::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

TKeyButtons::TKeyButtons(QWidget* parent, int panelHeight) {
    int x = kLowerRowFirstLeft;
    int y = panelHeight + kRowHeight;
    for (int key = 0; key < kKeyCount; ++key) {
        const TKeyTable& row = KeyAt(key);
        if (key > 0 && row.Row != KeyAt(key - 1).Row) {
            x = 0;
            y -= kRowHeight;
        }
        auto* button = new TColorButton(parent);
        button->KeyNum = key;
        if (row.Black) {
            button->SetColor(Qt::black);
            button->SetCaptionColor(Qt::white);
            button->setGeometry(x + kBlackKeyInset, y, kBlackKeyWidth, kBlackKeyHeight);
        } else {
            button->SetColor(Qt::white);
            button->SetCaptionColor(Qt::black);
            button->setGeometry(x, y, kWhiteKeyWidth, kWhiteKeyHeight);
        }
        const bool nextIsWhite = key + 1 < kKeyCount && !KeyAt(key + 1).Black;
        x += (!row.Black && nextIsWhite) ? kWhiteKeyWidth : kWhiteKeyWidth / 2;
        buttons_[key] = button;
    }
    // Raised in this order, bottom to top, so black keys cover their white neighbours.
    for (int rowIndex : {0, 1}) {
        for (int black : {0, 1}) {
            for (int key = 0; key < kKeyCount; ++key) {
                if (KeyAt(key).Row == rowIndex && KeyAt(key).Black == black)
                    buttons_[key]->raise();
            }
        }
    }
    ShowCaptions();
    layoutWatcher_ = std::make_unique<LayoutChangeWatcher>([this] {
        // One change brings several events; the captions are read once they are all in.
        if (captionsPending_)
            return;
        captionsPending_ = true;
        QTimer::singleShot(0, &captionUpdates_, [this] {
            captionsPending_ = false;
            ShowCaptions();
        });
    });
}

void TKeyButtons::ShowCaptions() {
    const std::optional<KeyCaptions> layoutCaptions = ActiveLayoutCaptions();
    for (int key = 0; key < kKeyCount; ++key)
        buttons_[key]->setText(
            QString::fromStdString(layoutCaptions ? (*layoutCaptions)[key] : KeyCaption(key)));
}

int TKeyButtons::LowerRowTop() const {
    return buttons_[0]->y();
}

void TKeyButtons::SetKeyColour(int key, bool pressed) {
    buttons_[key]->SetColor(pressed ? kSoundingColour : RestingColour(key));
}

} // namespace morvane
