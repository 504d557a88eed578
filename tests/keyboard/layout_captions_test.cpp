// Runs on a real X server (the end-to-end harness starts Xvfb): the layout is switched
// with setxkbmap and the keys are pressed through XTEST, as a user's keyboard would.
#include <QApplication>
#include <QProcess>
#include <QTest>

#include "engine/voice_pool.h"
#include "keyboard/input.h"
#include "keyboard/key_state.h"
#include "keyboard/layout_captions.h"

// xcb's XKB header names a field "explicit", a keyword of C++.
#define explicit xcb_explicit
#include <xcb/xkb.h>
#undef explicit

using namespace morvane;

namespace {

constexpr int kZ = 1; // key indices of the key table
constexpr int kRo = 18;
constexpr int kAt = 38; // the key right of P
constexpr int kBracket = 40;
constexpr int kAtKeycode = 34;

void Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    QVERIFY2(
        process.waitForFinished(10000) && process.exitCode() == 0,
        qPrintable(program + " " + arguments.join(' ') + ": " + process.readAllStandardError()));
}

// Makes the keymap's layout of that index the active one.
void LockLayout(int index) {
    xcb_connection_t* connection = X11Connection();
    QVERIFY(connection);
    xcb_generic_error_t* error = xcb_request_check(
        connection, xcb_xkb_latch_lock_state_checked(connection, XCB_XKB_ID_USE_CORE_KBD, 0, 0,
                                                     true, index, 0, false, 0));
    QVERIFY(!error);
}

} // namespace

class LayoutCaptionsTest : public QObject {
    Q_OBJECT
private slots:
    void captionsFollowTheLayoutWhileKeysPlayByPosition_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("z");
        QTest::addColumn<QString>("ro");
        QTest::addColumn<QString>("at");
        QTest::addColumn<QString>("bracket");
        QTest::newRow("JIS keeps the keycaps") << "jp"
                                               << "Z"
                                               << "＼"
                                               << "@"
                                               << "[";
        QTest::newRow("US") << "us"
                            << "Z"
                            << ""
                            << "["
                            << "]";
        QTest::newRow("German letters in capitals") << "de"
                                                    << "Y"
                                                    << ""
                                                    << "Ü"
                                                    << "+";
        QTest::newRow("French") << "fr"
                                << "W"
                                << ""
                                << "^"
                                << "$";
    }
    void captionsFollowTheLayoutWhileKeysPlayByPosition() {
        QFETCH(QString, layout);
        QFETCH(QString, z);
        QFETCH(QString, ro);
        QFETCH(QString, at);
        QFETCH(QString, bracket);
        Run("setxkbmap", {layout});

        QWidget window;
        window.resize(522, 461);
        SynthState state;
        InitialiseRunningState(state);
        Instrument instrument(state);
        TKeyButtons keys(&window, 321);
        KeyboardInput input(
            &window,
            [&](const Command& command) { ShowKeyColours(instrument.Apply(command), keys); }, keys,
            [](int) {});
        QCOMPARE(keys[kZ]->text(), z);
        QCOMPARE(keys[kRo]->text(), ro);
        QCOMPARE(keys[kAt]->text(), at);
        QCOMPARE(keys[kBracket]->text(), bracket);

        // The key right of P plays the same note on every layout, whatever it types.
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString id = QString::number(window.winId());
        Run("xdotool", {"windowfocus", "--sync", id});
        QTRY_VERIFY(window.isActiveWindow());
        Run("xdotool", {"keydown", QString::number(kAtKeycode)});
        QTRY_COMPARE(keys[kAt]->Color(), QColor(255, 0, 0));
        Run("xdotool", {"keyup", QString::number(kAtKeycode)});
        QTRY_COMPARE(keys[kAt]->Color(), QColor(Qt::white));
    }

    // A keymap loaded while the window is open, and a switch between the layouts of one
    // keymap (locked as a desktop's layout switcher locks it), both show at once.
    void captionsFollowLayoutChanges() {
        Run("setxkbmap", {"us"});
        QWidget window;
        TKeyButtons keys(&window, 321);
        QCOMPARE(keys[kAt]->text(), "[");
        Run("setxkbmap", {"de"});
        QTRY_COMPARE(keys[kAt]->text(), "Ü");
        Run("setxkbmap", {"-layout", "us,jp"});
        QTRY_COMPARE(keys[kAt]->text(), "[");
        LockLayout(1);
        QTRY_COMPARE(keys[kAt]->text(), "@");
        QCOMPARE(keys[kRo]->text(), "＼");
        LockLayout(0);
        QTRY_COMPARE(keys[kAt]->text(), "[");
    }
};

QTEST_MAIN(LayoutCaptionsTest)
#include "layout_captions_test.moc"
