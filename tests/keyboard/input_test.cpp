#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

#include <memory>
#include <set>
#include <vector>

#include "engine/voice_pool.h"
#include "keyboard/input.h"

using namespace morvane;

namespace {

constexpr int kZ = 1; // key indices of the key table
constexpr int kX = 3;
constexpr int kC = 4;
constexpr int kV = 6;
constexpr int kB = 8;
constexpr int kN = 9;

// A window with the on-screen keyboard and the input applied at once to a fresh engine
// state, as a player applies it.
struct Rig {
    QWidget window;
    QLineEdit* edit = new QLineEdit(&window);
    SynthState state;
    Instrument instrument{state};
    TKeyButtons keys{&window, 321};
    std::vector<int> selections;
    std::set<int> physicallyDown;
    KeyboardInput input{
        &window,
        [this](const Command& command) { ShowKeyColours(instrument.Apply(command), keys); }, keys,
        [this](int slot) { selections.push_back(slot); }};

    Rig() {
        InitialiseRunningState(state);
        window.resize(522, 461);
    }

    // Stands in for the X server's key state.
    void UsePhysicalKeyState() {
        input.SetKeyStateQuery(
            [this](int vk) { return std::optional(physicallyDown.contains(vk)); });
    }

    bool Send(QEvent::Type type, int qtKey, quint32 scanCode = 0, bool autoRepeat = false,
              Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {}) {
        QKeyEvent event(type, qtKey, modifiers, scanCode, 0, 0, text, autoRepeat);
        QApplication::sendEvent(edit, &event);
        return event.isAccepted();
    }
    void Press(int qtKey, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        Send(QEvent::KeyPress, qtKey, 0, false, modifiers);
    }
    void Release(int qtKey, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        Send(QEvent::KeyRelease, qtKey, 0, false, modifiers);
    }
    void Sweep() {
        for (int tick = 0; tick < 4; ++tick)
            input.SweepReleasedKeys();
    }
    bool Sounding(int key) const {
        for (int voice : state.VoiceOrder) {
            if (voice != -1 && state.Voices[voice].Key == key &&
                state.Voices[voice].VcaStage != StageRelease)
                return true;
        }
        return false;
    }
    bool Red(int key) const { return keys[key]->Color() == QColor(255, 0, 0); }
};

QKeyEvent KeyEvent(int qtKey, quint32 scanCode, Qt::KeyboardModifiers modifiers = {}) {
    return QKeyEvent(QEvent::KeyPress, qtKey, modifiers, scanCode, 0, 0);
}

} // namespace

class InputTest : public QObject {
    Q_OBJECT
private slots:
    void translatesPhysicalJisPositions() {
        // Whatever the layout prints, the keycode names the position.
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_Z, 52)), 0x5A);
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_Y, 52)), 0x5A); // German layout, same key
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_BracketRight, 51)), 0xDD);
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_Backslash, 97)), 0xE2);
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_Colon, 48)), 0xBA);
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_Semicolon, 47)), 0);
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_Minus, 20)), 0xBD);
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_AsciiCircum, 21)), 0xDE);
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_At, 34)), 0xC0);
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_BracketLeft, 35)), 0xDB);
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_F1, 67)), 0x70);
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_F8, 74)), 0x77);
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_7, 79, Qt::KeypadModifier)), 0);
        // Without a keycode the Qt key stands in.
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_Z, 0)), 0x5A);
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_Comma, 0)), 0xBC);
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_F3, 0)), 0x72);
        QCOMPARE(VirtualKeyFor(KeyEvent(Qt::Key_7, 0, Qt::KeypadModifier)), 0);
    }

    void noteKeyPlaysAndReleases() {
        auto rig = std::make_unique<Rig>();
        QVERIFY(rig->Send(QEvent::KeyPress, Qt::Key_Z, 52, false, {}, "z"));
        QVERIFY(rig->Sounding(kZ));
        QVERIFY(rig->Red(kZ));
        QVERIFY(rig->edit->text().isEmpty()); // consumed before the focused control
        rig->Send(QEvent::KeyRelease, Qt::Key_Z, 52);
        QVERIFY(!rig->Sounding(kZ));
        QCOMPARE(rig->keys[kZ]->Color(), Qt::white);
    }

    void keysWithoutARowAreNotConsumed() {
        auto rig = std::make_unique<Rig>();
        rig->Send(QEvent::KeyPress, Qt::Key_3, 12, false, {}, "3");
        rig->Send(QEvent::KeyPress, Qt::Key_Space, 65, false, {}, " ");
        QCOMPARE(rig->edit->text(), QString("3 "));
        QCOMPARE(rig->state.VoiceOrder[0], -1);
    }

    void heldKeyAutoRepeatDoesNotRestartTheNote() {
        auto rig = std::make_unique<Rig>();
        rig->UsePhysicalKeyState();
        rig->physicallyDown.insert(0x5A);
        rig->Send(QEvent::KeyPress, Qt::Key_Z, 52);
        TSynthVoice& voice = rig->state.Voices[rig->state.VoiceOrder[0]];
        voice.VcaLevel = 0.5f; // as if rendered for a while; a restart would zero it
        // A flagged pair, then a pair that X11 failed to flag.
        rig->Send(QEvent::KeyRelease, Qt::Key_Z, 52, true);
        rig->Send(QEvent::KeyPress, Qt::Key_Z, 52, true);
        rig->Send(QEvent::KeyRelease, Qt::Key_Z, 52, false);
        rig->Send(QEvent::KeyPress, Qt::Key_Z, 52, false);
        QCOMPARE(voice.VcaStage, StageAttack);
        QCOMPARE(voice.VcaLevel, 0.5f);
        QVERIFY(rig->Red(kZ));
        rig->physicallyDown.clear();
        rig->Send(QEvent::KeyRelease, Qt::Key_Z, 52);
        QCOMPARE(voice.VcaStage, StageRelease);
    }

    void sixthKeyStealsAndColoursFollow() {
        auto rig = std::make_unique<Rig>();
        for (int qtKey : {Qt::Key_Z, Qt::Key_X, Qt::Key_C, Qt::Key_V, Qt::Key_B})
            rig->Press(qtKey);
        rig->Press(Qt::Key_N);
        QVERIFY(!rig->Sounding(kZ));
        QCOMPARE(rig->keys[kZ]->Color(), Qt::white);
        for (int key : {kX, kC, kV, kB, kN}) {
            QVERIFY(rig->Sounding(key));
            QVERIFY(rig->Red(key));
        }
        // The stolen key's next auto-repeat starts it again, on the oldest voice.
        rig->Send(QEvent::KeyPress, Qt::Key_Z, 0, true);
        QVERIFY(rig->Sounding(kZ));
        QVERIFY(!rig->Sounding(kX));
    }

    void twoKeysOfOnePitchSoundOnTwoVoices() {
        auto rig = std::make_unique<Rig>();
        rig->Press(Qt::Key_K);
        rig->Press(Qt::Key_1);
        QVERIFY(rig->Sounding(12));
        QVERIFY(rig->Sounding(20));
    }

    void mouseOnAKeyButtonPlaysIt() {
        auto rig = std::make_unique<Rig>();
        TColorButton* key = rig->keys[kC];
        QTest::mousePress(key, Qt::LeftButton);
        QVERIFY(rig->Sounding(kC));
        // Drawn sunken: a black outline around a red face, and Pressed set.
        QImage drawn = key->grab().toImage();
        QCOMPARE(drawn.pixelColor(0, 10), QColor(Qt::black));
        QCOMPARE(drawn.pixelColor(key->width() / 2, 10), QColor(255, 0, 0));
        QVERIFY(key->Pressed());
        QTest::mouseRelease(key, Qt::LeftButton);
        QVERIFY(!rig->Sounding(kC));
        drawn = key->grab().toImage();
        QCOMPARE(drawn.pixelColor(0, 10), QColor(0xC0, 0xC0, 0xC0));
        QCOMPARE(drawn.pixelColor(key->width() / 2, 10), QColor(Qt::white));
        QVERIFY(!key->Pressed());
    }

    void sweepReleasesLostKeyUpsButNotMouseHeldKeys() {
        auto rig = std::make_unique<Rig>();
        rig->UsePhysicalKeyState();
        // Z's key-up went to another window; C is held with the mouse; V is still down.
        rig->physicallyDown.insert(0x5A);
        rig->Press(Qt::Key_Z);
        rig->physicallyDown.clear();
        QTest::mousePress(rig->keys[kC], Qt::LeftButton);
        rig->keys[kC]->grab(); // the held look is drawn, which sets Pressed
        rig->physicallyDown.insert(0x56);
        rig->Press(Qt::Key_V);
        for (int tick = 0; tick < 3; ++tick)
            rig->input.SweepReleasedKeys();
        QVERIFY(rig->Sounding(kZ)); // only every fourth tick sweeps
        rig->input.SweepReleasedKeys();
        QVERIFY(!rig->Sounding(kZ));
        QVERIFY(rig->Sounding(kC));
        QVERIFY(rig->Sounding(kV));
        QTest::mouseRelease(rig->keys[kC], Qt::LeftButton);
    }

    void sweepLooksAtEveryPositionOnce() {
        auto rig = std::make_unique<Rig>();
        NoteOn(rig->state, kZ);
        NoteOn(rig->state, kX);
        NoteOn(rig->state, kC);
        // Releasing C at position 0 moves X forward into it, where this sweep has
        // already looked; X waits for the next sweep.
        rig->Sweep();
        QVERIFY(!rig->Sounding(kC));
        QVERIFY(rig->Sounding(kX));
        QVERIFY(!rig->Sounding(kZ));
        rig->Sweep();
        QVERIFY(!rig->Sounding(kX));
    }

    void sweepStopsWhileTheWindowItselfHasTheFocus() {
        auto rig = std::make_unique<Rig>();
        rig->edit->setFocusPolicy(Qt::NoFocus);
        rig->window.show();
        QApplication::setActiveWindow(&rig->window);
        QVERIFY(QTest::qWaitForWindowActive(&rig->window));
        NoteOn(rig->state, kZ);
        rig->Sweep();
        QVERIFY(rig->Sounding(kZ));
    }

    void ctrlGatesTheLfo() {
        auto rig = std::make_unique<Rig>();
        // The events carry the state before them, as X11 sends it; Qt turns it into the
        // state after a modifier key's own event.
        rig->Press(Qt::Key_Control);
        QVERIFY(rig->state.CtrlHeld);
        rig->Release(Qt::Key_Control, Qt::ControlModifier);
        QVERIFY(!rig->state.CtrlHeld);
        // A note key pressed with Ctrl held sets the gate as well.
        rig->Press(Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(rig->state.CtrlHeld);
        QVERIFY(rig->Sounding(kZ));
        // The sweep closes the gate once Ctrl is up, but never opens it.
        rig->UsePhysicalKeyState();
        rig->physicallyDown.insert(0x5A);
        rig->Sweep();
        QVERIFY(!rig->state.CtrlHeld);
        rig->physicallyDown.insert(kVkControl);
        rig->Sweep();
        QVERIFY(!rig->state.CtrlHeld);
    }

    void functionKeysSelectThroughNothingEveryTime() {
        auto rig = std::make_unique<Rig>();
        QVERIFY(!rig->Send(QEvent::KeyPress, Qt::Key_F3, 69));
        rig->Send(QEvent::KeyRelease, Qt::Key_F3, 69);
        rig->Send(QEvent::KeyPress, Qt::Key_F3, 69);
        rig->Press(Qt::Key_F9);
        // Once per key press, though the unconsumed key travels on to the parents.
        QCOMPARE(rig->selections, (std::vector<int>{-1, 2, -1, 2}));
    }
};

QTEST_MAIN(InputTest)
#include "input_test.moc"
