#include <QPainter>
#include <QTest>
#include <QWidget>

#include <vector>

#include "keyboard/onscreen_keyboard.h"

using namespace morvane;

namespace {

const QColor kLight(0xC0, 0xC0, 0xC0);
const QColor kDark(0x80, 0x80, 0x80);

QColor PixelOf(TColorButton& button, int x, int y) {
    return button.grab().toImage().pixelColor(x, y);
}

std::vector<int> LeftsOf(const TKeyButtons& keys, int row, bool black) {
    std::vector<int> lefts;
    for (int key = 0; key < kKeyCount; ++key) {
        if (KeyAt(key).Row == row && (KeyAt(key).Black != 0) == black)
            lefts.push_back(keys[key]->x());
    }
    return lefts;
}

} // namespace

class ColorButtonTest : public QObject {
    Q_OBJECT
private slots:
    void raisedBevelCoversStartNotEndPoints() {
        TColorButton button;
        button.resize(kWhiteKeyWidth, kWhiteKeyHeight);
        const int r = button.width() - 1;
        const int b = button.height() - 1;
        QCOMPARE(PixelOf(button, 0, 0), kLight);
        QCOMPARE(PixelOf(button, 2, 10), kLight);
        QCOMPARE(PixelOf(button, r, 0), kDark);
        QCOMPARE(PixelOf(button, 0, b), kDark);      // the bottom bevel is drawn last
        QCOMPARE(PixelOf(button, r, b), Qt::white);  // no line reaches the last corner
        QCOMPARE(PixelOf(button, 10, 0), Qt::white); // no top bevel
        QCOMPARE(PixelOf(button, 3, 10), Qt::white);
        QVERIFY(!button.Pressed());
    }

    void heldDownLooksSunkenAndSetsPressed() {
        TColorButton button;
        button.resize(kBlackKeyWidth, kBlackKeyHeight);
        button.SetColor(Qt::black);
        button.setDown(true);
        const int r = button.width() - 1;
        const int b = button.height() - 1;
        QCOMPARE(PixelOf(button, 0, 5), Qt::black); // outline over the bevel
        QCOMPARE(PixelOf(button, 1, 5), kDark);
        QCOMPARE(PixelOf(button, r - 1, 5), kLight);
        QCOMPARE(PixelOf(button, 5, b), Qt::black);
        QVERIFY(button.Pressed());
        button.setDown(false);
        QCOMPARE(PixelOf(button, 1, 5), kLight);
        QVERIFY(!button.Pressed());
    }

    void captionSitsFiveAboveTheBottomAndMovesWhenHeld() {
        TColorButton button;
        button.resize(kWhiteKeyWidth, kWhiteKeyHeight);
        button.setText("W");
        const QFontMetrics metrics{QFont()};
        const auto inkRows = [&] {
            const QImage image = button.grab().toImage();
            int lowest = -1, leftmost = image.width();
            for (int y = 0; y < image.height() - 3; ++y) {
                for (int x = 3; x < image.width() - 3; ++x) {
                    if (image.pixelColor(x, y) == Qt::black) {
                        lowest = std::max(lowest, y);
                        leftmost = std::min(leftmost, x);
                    }
                }
            }
            return std::pair(lowest, leftmost);
        };
        const auto [bottom, left] = inkRows();
        // The caption's box ends 5 pixels above the bottom edge; a W's ink ends just
        // above the baseline, a descent higher.
        const int baseline = button.height() - 5 - metrics.height() + metrics.ascent();
        QVERIFY2(bottom >= baseline - 2 && bottom <= baseline, qPrintable(QString::number(bottom)));
        button.setDown(true);
        const auto [heldBottom, heldLeft] = inkRows();
        QCOMPARE(heldBottom, bottom + 1);
        QCOMPARE(heldLeft, left + 1);
    }

    void mouseEventsReachTheHandlersAndDoubleClicksArePresses() {
        TColorButton button;
        button.resize(30, 70);
        std::vector<char> events;
        button.OnMouseDown = [&](TColorButton*) { events.push_back('d'); };
        button.OnMouseUp = [&](TColorButton*) { events.push_back('u'); };
        QTest::mousePress(&button, Qt::LeftButton);
        QVERIFY(button.isDown());
        QTest::mouseRelease(&button, Qt::LeftButton);
        // The second press of a double click arrives as a double-click event.
        QTest::mouseDClick(&button, Qt::LeftButton);
        QVERIFY(button.isDown());
        QTest::mouseRelease(&button, Qt::LeftButton);
        QCOMPARE(events, (std::vector<char>{'d', 'u', 'd', 'u'}));
    }

    void keyboardLayout() {
        QWidget window;
        TKeyButtons keys(&window, 321);
        QCOMPARE(keys.LowerRowTop(), 391);
        QCOMPARE(LeftsOf(keys, 0, false),
                 (std::vector<int>{30, 60, 90, 120, 150, 180, 210, 240, 270, 300, 330}));
        QCOMPARE(LeftsOf(keys, 0, true),
                 (std::vector<int>{17, 47, 107, 137, 197, 227, 257, 317, 347}));
        QCOMPARE(LeftsOf(keys, 1, false),
                 (std::vector<int>{15, 45, 75, 105, 135, 165, 195, 225, 255, 285, 315, 345}));
        QCOMPARE(LeftsOf(keys, 1, true),
                 (std::vector<int>{2, 32, 92, 122, 182, 212, 242, 302, 332}));
        for (int key = 0; key < kKeyCount; ++key) {
            QCOMPARE(keys[key]->y(), KeyAt(key).Row == 0 ? 391 : 321);
            QCOMPARE(keys[key]->height(), KeyAt(key).Black ? 37 : 70);
            QCOMPARE(keys[key]->KeyNum, key);
        }
        QCOMPARE(keys[0]->text(), QString("A"));
        QCOMPARE(keys[13]->text(), QString(","));
        QCOMPARE(keys[18]->text(), QString::fromUtf8("＼"));
        // Black keys lie over the 13 pixels of each white neighbour they cover.
        QCOMPARE(window.childAt(30 + 5, 391 + 10), keys[0]);
        QCOMPARE(window.childAt(30 + 5, 391 + 40), keys[1]);
        QCOMPARE(window.childAt(2 + 5, 321 + 10), keys[20]);
    }

    void restingAndSoundingColours() {
        QWidget window;
        TKeyButtons keys(&window, 321);
        QCOMPARE(keys[1]->Color(), Qt::white);
        QCOMPARE(keys[1]->CaptionColor(), Qt::black);
        QCOMPARE(keys[0]->Color(), Qt::black);
        QCOMPARE(keys[0]->CaptionColor(), Qt::white);
        keys.SetKeyColour(0, true);
        QCOMPARE(keys[0]->Color(), QColor(255, 0, 0));
        keys.SetKeyColour(0, false);
        QCOMPARE(keys[0]->Color(), Qt::black);
    }
};

QTEST_MAIN(ColorButtonTest)
#include "onscreen_keyboard_test.moc"
