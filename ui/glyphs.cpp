#include "ui/glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

#include <algorithm>
#include <functional>

namespace morvane {

namespace {

// Colours of the 16-colour palette the glyphs keep to.
const QColor kBlack(0, 0, 0);
const QColor kMaroon(128, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kNavy(0, 0, 128);
const QColor kGrey(128, 128, 128);

QPixmap DrawGlyph(const std::function<void(QPainter&)>& draw) {
    QImage image(kGlyphSize, kGlyphSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    // Hard pixel edges: the glyphs keep the look of a 16-colour bitmap.
    painter.setRenderHint(QPainter::Antialiasing, false);
    draw(painter);
    painter.end();
    return QPixmap::fromImage(image);
}

} // namespace

QPixmap RecordGlyph() {
    return DrawGlyph([](QPainter& p) {
        p.setPen(kMaroon);
        p.setBrush(kRed);
        // With a one-pixel pen the outline covers one pixel more than the rectangle,
        // so this disc spans pixels 1 to 10 and sits in the middle of the 12.
        p.drawEllipse(QRect(1, 1, 9, 9));
    });
}

QPixmap StopGlyph() {
    return DrawGlyph([](QPainter& p) {
        // Two bars of three pixels around a gap of two, symmetric about the centre.
        p.fillRect(QRect(2, 1, 3, 10), kNavy);
        p.fillRect(QRect(7, 1, 3, 10), kNavy);
    });
}

QPixmap LoudspeakerGlyph() {
    return DrawGlyph([](QPainter& p) {
        p.fillRect(QRect(1, 4, 2, 4), kBlack); // the magnet
        p.setPen(kBlack);
        p.setBrush(kGrey);
        p.drawPolygon(QPolygon({QPoint(3, 4), QPoint(6, 1), QPoint(6, 10), QPoint(3, 7)}));
        // Two sound waves, each an upright bar with its ends bent back towards the cone.
        p.fillRect(QRect(9, 4, 1, 4), kNavy);
        p.fillRect(QRect(11, 2, 1, 8), kNavy);
        p.setPen(kNavy);
        p.drawPoints(QPolygon({QPoint(8, 3), QPoint(8, 8), QPoint(10, 1), QPoint(10, 10)}));
    });
}

namespace {

// The icon, in fractions of its size: a dark tile with a sawtooth wave over a strip of
// piano keys (five white keys, C to G, and the three black keys between them).
constexpr int kWhiteKeys = 5;
constexpr std::array kBlackKeysAfter{0, 1, 3}; // C#, D# and F#
constexpr int kSawPeriods = 2;

void DrawTile(QPainter& p, qreal size) {
    const qreal margin = size / 16;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1e, 0x2a, 0x4a));
    p.drawRoundedRect(QRectF(margin, margin, size - 2 * margin, size - 2 * margin), size / 8,
                      size / 8);
}

void DrawWave(QPainter& p, qreal size) {
    const qreal left = size * 0.16;
    const qreal right = size * 0.84;
    const qreal top = size * 0.18;
    const qreal bottom = size * 0.46;
    const qreal period = (right - left) / kSawPeriods;
    QPainterPath saw(QPointF(left, bottom));
    for (int i = 0; i < kSawPeriods; ++i) {
        const qreal end = left + period * (i + 1);
        saw.lineTo(end, top);
        saw.lineTo(end, bottom);
    }
    QPen pen(QColor(0xff, 0x8c, 0x1a), std::max<qreal>(1, size / 16));
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(saw);
}

void DrawKeys(QPainter& p, qreal size) {
    const QRectF strip(size * 0.16, size * 0.56, size * 0.68, size * 0.30);
    const qreal keyWidth = strip.width() / kWhiteKeys;
    p.setPen(QPen(QColor(0x1e, 0x2a, 0x4a), std::max<qreal>(1, size / 64)));
    p.setBrush(Qt::white);
    for (int i = 0; i < kWhiteKeys; ++i)
        p.drawRect(QRectF(strip.left() + i * keyWidth, strip.top(), keyWidth, strip.height()));
    p.setBrush(Qt::black);
    const qreal blackWidth = keyWidth * 0.6;
    for (int after : kBlackKeysAfter) {
        const qreal centre = strip.left() + (after + 1) * keyWidth;
        p.drawRect(QRectF(centre - blackWidth / 2, strip.top(), blackWidth, strip.height() * 0.6));
    }
}

} // namespace

QImage ProgramIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    DrawTile(painter, size);
    DrawWave(painter, size);
    DrawKeys(painter, size);
    painter.end();
    return image;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : kProgramIconSizes)
        icon.addPixmap(QPixmap::fromImage(ProgramIconImage(size)));
    return icon;
}

} // namespace morvane
