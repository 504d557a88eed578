#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTranslator>
#include <QtEndian>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/startup.h"
#include "settings/midi_bindings_file.h"
#include "tests/support/manual_output.h"
#include "ui/about_box.h"
#include "ui/front_panel.h"
#include "ui/glyphs.h"
#include "ui/main_window.h"
#include "ui/midi_window.h"
#include "ui/panel_widgets.h"
#include "ui/signal_close.h"

using namespace morvane;

namespace {

constexpr int kZ = 1;
// The classic silence the device plays before the player renders its first block.
constexpr int kBlocksBeforeRender = 21;
// What the device plays after the close before the drain is done: what was rendered
// ahead, and the margin for a sound server's own buffering.
constexpr int kDrainBlocks = 10;

// The main window on a hand-driven audio device, with its files in a temporary folder.
struct Window {
    QTemporaryDir folder;
    ManualOutputs outputs;
    std::vector<std::string> errors;
    std::unique_ptr<MainWindow> form;
    int played = 0;
    int rendered = 0;
    std::optional<int> midiChannel; // --midi-channel

    // prepare puts something in the settings file's place before the window starts.
    explicit Window(const std::function<void(const QString& path)>& prepare = {}) {
        if (prepare)
            prepare(QString::fromStdString(SettingsFile().string()));
        Open();
    }

    void Open() {
        played = rendered = 0;
        form = std::make_unique<MainWindow>(MainWindowSetup{
            outputs.Classic(), SettingsFile(), folder.path().toStdString(),
            [this](const std::string& message) { errors.push_back(message); }, midiChannel, false});
    }
    ManualOutput& Device() const { return *outputs.Last(); }
    std::filesystem::path SettingsFile() const {
        return std::filesystem::path(folder.path().toStdString()) / "morvane.ini";
    }
    QString SettingsText() const {
        QFile file(QString::fromStdString(SettingsFile().string()));
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }

    // The names of the recordings in the folder, and the bytes of the first.
    QStringList Recordings() const { return QDir(folder.path()).entryList({"*.wav"}); }
    QByteArray FirstRecording() const {
        QFile file(QDir(folder.path()).filePath(Recordings().value(0)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    template <typename T> T* Find(const char* name) const {
        T* widget = form->findChild<T*>(name);
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    QString LabelText(const char* name) const { return Find<QLabel>(name)->text(); }
    QScrollBar* Bar(const char* name) const { return Find<QScrollBar>(name); }

    void Key(QEvent::Type type, int qtKey) {
        QKeyEvent event(type, qtKey, Qt::NoModifier);
        QApplication::sendEvent(form.get(), &event);
    }
    void Tap(int qtKey) {
        Key(QEvent::KeyPress, qtKey);
        Key(QEvent::KeyRelease, qtKey);
    }
    void ClickPresetItem(int slot) {
        QTest::mouseClick(form->Panel().RadioPreset->Item(slot), Qt::LeftButton, {}, QPoint(5, 5));
    }
    // The device plays until the player has rendered this many more blocks, and the
    // window's timer takes back what they brought.
    void PlayBlocks(int blocks) {
        rendered += blocks;
        Device().PlayBlocks(kBlocksBeforeRender + rendered - played);
        played = kBlocksBeforeRender + rendered;
        form->TendAudio();
    }
    // The device plays out what was rendered ahead; the timer then grants the close.
    void Drain() {
        Device().PlayBlocks(kDrainBlocks);
        form->TendAudio();
    }
    void CloseWindow() {
        form->close();
        Drain();
    }
};

QImage Glyph(const QToolButton& button) {
    return button.icon()
        .pixmap(kGlyphSize)
        .toImage()
        .convertToFormat(RecordGlyph().toImage().format());
}

// The sound's fields that the panel's handlers write, as one comparable value.
auto PanelFieldsOf(const SoundParameters& s) {
    const EnvelopeParameters& a = s.Vca;
    const EnvelopeParameters& f = s.Vcf;
    return std::make_tuple(
        a.AttackPos, a.DecayPos, a.SustainPos, a.ReleasePos, a.AttackTime, a.DecayTime,
        a.SustainLevel, a.ReleaseTime, f.AttackPos, f.DecayPos, f.SustainPos, f.ReleasePos,
        f.AttackTime, f.DecayTime, f.SustainLevel, f.ReleaseTime, s.UseVcfEnvelope, s.CutoffHz,
        s.VcfIntensity, s.Resonance, s.NoiseLevel, s.Osc1Volume, s.Osc2Volume, s.Osc1WidthPos,
        s.Osc2WidthPos, s.Osc1Width, s.Osc2Width, s.DistortionLevel, s.DistortionVolume, s.Osc1Wave,
        s.Osc2Wave, s.Osc1Octave, s.Osc2Octave, s.ModDepth, s.ModFreq, s.ModAlwaysOn, s.ModSquare,
        s.EchoDepth, s.EchoTimeMs, s.ChorusChecked);
}

// One step of the control away from where it stands, by mouse or arrow as a user would.
void MoveAsTheUser(MainWindow& form, ControlId id) {
    QWidget* widget = form.Panel().ControlWidget(id);
    switch (Describe(id).kind) {
    case ControlKind::Slider: {
        auto* bar = static_cast<QScrollBar*>(widget);
        bar->triggerAction(bar->value() < bar->maximum() ? QAbstractSlider::SliderSingleStepAdd
                                                         : QAbstractSlider::SliderSingleStepSub);
        break;
    }
    case ControlKind::RadioGroup: {
        auto* group = static_cast<TRadioGroup*>(widget);
        const int item = (group->ItemIndex() + 1) % group->Count();
        QTest::mouseClick(group->Item(item), Qt::LeftButton, {}, QPoint(5, 5));
        break;
    }
    case ControlKind::CheckBox:
        QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(5, 5));
        break;
    case ControlKind::ModType: {
        const bool square = form.findChild<QRadioButton*>("RadioButtonModType1")->isChecked();
        const char* other = square ? "RadioButtonModType0" : "RadioButtonModType1";
        QTest::mouseClick(form.findChild<QRadioButton*>(other), Qt::LeftButton, {}, QPoint(5, 5));
        break;
    }
    }
}

// The position the widget shows, in the terms of the control's model.
int ShownPosition(MainWindow& form, ControlId id) {
    QWidget* widget = form.Panel().ControlWidget(id);
    switch (Describe(id).kind) {
    case ControlKind::Slider:
        return static_cast<QScrollBar*>(widget)->value();
    case ControlKind::RadioGroup:
        return static_cast<TRadioGroup*>(widget)->ItemIndex();
    case ControlKind::CheckBox:
        return static_cast<QCheckBox*>(widget)->isChecked() ? 1 : 0;
    case ControlKind::ModType:
        return form.findChild<QRadioButton*>("RadioButtonModType1")->isChecked() ? 1 : 0;
    }
    return kNothingSelected;
}

QString LabelOf(MainWindow& form, ControlId id) {
    const QLabel* label = form.Panel().ValueLabel(id);
    return label ? label->text() : QString();
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void windowLayout() {
        Window w;
        QCOMPARE(w.form->windowTitle(), QString("Morvane"));
        QCOMPARE(w.form->size(), QSize(522, 461));
        QCOMPARE(w.form->minimumSize(), w.form->maximumSize());
        QCOMPARE(w.form->KeyButtons().LowerRowTop(), 391);
        QCOMPARE(w.form->Panel().geometry(), QRect(0, 0, 521, 321));
        QCOMPARE(w.Find<QGroupBox>("VcfEnvelopeGroup")->geometry(), QRect(328, 96, 185, 105));
        QCOMPARE(w.Find<QGroupBox>("TuningGroup")->geometry(), QRect(8, 280, 153, 33));
        QCOMPARE(w.form->Panel().RadioPreset->geometry(), QRect(168, 280, 281, 33));
        QCOMPARE(w.form->btnExit->geometry(), QRect(456, 400, 57, 25));
        QCOMPARE(w.form->btnMidi->geometry(), QRect(470, 424, 43, 25));
        QCOMPARE(w.form->midiLamp->geometry(), QRect(458, 432, 9, 9));
        QCOMPARE(w.Bar("ScrollBarDistVol")->geometry(), QRect(64, 32, 81, 9));
        QCOMPARE(w.Find<QLabel>("LabelDistVol")->pos(), QPoint(39, 29));
        QCOMPARE(w.Find<QCheckBox>("CheckBoxUseVcfEnvelope")->geometry().topLeft(), QPoint(8, 80));
        QCOMPARE(w.form->Panel().UpDownTuning->geometry(), QRect(57, 12, 32, 16));
        QCOMPARE(w.form->Panel().btnTuningReset->text(), QString::fromUtf8("リセット"));
        QCOMPARE(w.form->btnExit->text(), QString::fromUtf8("終了"));
        QCOMPARE(w.form->btnOutput->text(), QString::fromUtf8("音量"));
        QCOMPARE(w.form->btnRecord->text(), QString::fromUtf8("録音"));
        QCOMPARE(w.form->font().family(), QString("Noto Sans CJK JP"));
        QCOMPARE(w.form->font().pixelSize(), 12);
    }

    // Started without a settings file, the window's sound is the engine's fresh start with
    // the first preset at its defaults, and every widget shows its control as that model
    // has it: position, range and value label; the sliders step by one.
    void startUpShowsTheFreshSound() {
        Window w;
        auto fresh = std::make_unique<SynthState>();
        SoundControls freshControls(*fresh);
        StartEngine(*fresh, freshControls, kDefaultTuning);
        LoadPreset(freshControls, DefaultPresetValues());
        QVERIFY(w.form->Sound() == static_cast<const SoundParameters&>(*fresh));
        int sliders = 0;
        for (int i = 0; i < kControlCount; ++i) {
            const auto id = static_cast<ControlId>(i);
            const ControlDescription& d = Describe(id);
            QCOMPARE(ShownPosition(*w.form, id), freshControls.Position(id));
            QCOMPARE(LabelOf(*w.form, id), QString::fromStdString(freshControls.Label(id)));
            if (d.kind != ControlKind::Slider)
                continue;
            ++sliders;
            const QScrollBar* bar = w.Bar(d.control);
            QCOMPARE(bar, w.form->Panel().ControlWidget(id));
            QCOMPARE(bar->minimum(), d.minimum);
            QCOMPARE(bar->maximum(), d.maximum);
            QCOMPARE(bar->singleStep(), 1);
            QCOMPARE(bar->pageStep(), 1);
            QCOMPARE(bar->height(), 9);
        }
        QCOMPARE(w.form->Panel().findChildren<QScrollBar*>().size(), sliders);
        QCOMPARE(w.LabelText("LabelTuning"), QString("440.0"));
        QCOMPARE(w.form->Panel().RadioPreset->ItemIndex(), 0);
        QCOMPARE(w.form->Panel().RadioPreset->title(), QString::fromUtf8("音色プリセット"));
        QCOMPARE(w.form->Panel().ButtonPresetSave->text(), QString::fromUtf8("音色保存"));
        QCOMPARE(w.outputs.Opened(), 1);
        QVERIFY(w.form->Input().SweepRunning());
        QVERIFY(w.errors.empty());
    }

    void userMovesRunTheHandlerAndRerunsAgree() {
        Window w;
        QScrollBar* cutoff = w.Bar("ScrollBarCutOff");
        cutoff->setValue(65);
        QCOMPARE(w.LabelText("LabelCutOff"), QString("982"));
        cutoff->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(cutoff->value(), 66);
        QCOMPARE(w.form->Sound().CutoffHz, 1052);
        QCOMPARE(w.LabelText("LabelCutOff"), QString("1.1k"));
        w.form->Controls().RunHandler(VcfCutoff);
        QCOMPARE(w.form->Sound().CutoffHz, 1052);
        QCOMPARE(w.LabelText("LabelCutOff"), QString("1.1k"));

        w.Bar("ScrollBarResonance")->setValue(100);
        QCOMPARE(w.LabelText("LabelResonance"), QString("0.90"));
        w.Bar("ScrollBarAttack")->setValue(0);
        QCOMPARE(w.form->Sound().Vca.AttackTime, 220.5f);

        auto* octave = w.Find<TRadioGroup>("RadioOctave1");
        QTest::mouseClick(octave->Item(0), Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(w.form->Sound().Osc1Octave, 2);

        auto* square = w.Find<QRadioButton>("RadioButtonModType1");
        QTest::mouseClick(square, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(w.form->Sound().ModSquare);
        QVERIFY(!w.Find<QRadioButton>("RadioButtonModType0")->isChecked());

        QTest::mouseClick(w.Find<QCheckBox>("CheckBoxChorus"), Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(w.form->Sound().ChorusChecked);
        QTest::mouseClick(w.Find<QCheckBox>("CheckBoxModOn"), Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(w.form->Sound().ModAlwaysOn);
    }

    // Every control, moved as a user moves it, reaches the engine and its label at once,
    // and its handler run again (as the preset loader does) changes nothing.
    void everyControlWritesAtOnceAndRerunsAlike() {
        Window w;
        for (int i = 0; i < kControlCount; ++i) {
            const auto id = static_cast<ControlId>(i);
            const int before = w.form->Controls().Position(id);
            const auto fieldsBefore = PanelFieldsOf(w.form->Sound());
            MoveAsTheUser(*w.form, id);
            const int after = w.form->Controls().Position(id);
            QVERIFY2(after != before, Describe(id).control);
            QCOMPARE(ShownPosition(*w.form, id), after);
            const auto written = PanelFieldsOf(w.form->Sound());
            QVERIFY2(written != fieldsBefore, Describe(id).control);
            const QString label = LabelOf(*w.form, id);
            if (Describe(id).hasLabel)
                QCOMPARE(label, QString::fromStdString(w.form->Controls().Label(id)));
            w.form->Controls().RunHandler(id);
            QVERIFY2(PanelFieldsOf(w.form->Sound()) == written, Describe(id).control);
            QCOMPARE(LabelOf(*w.form, id), label);
        }
    }

    void playingFromTheWindow() {
        Window w;
        w.Key(QEvent::KeyPress, Qt::Key_Z);
        w.PlayBlocks(1);
        QCOMPARE(w.form->KeyButtons()[kZ]->Color(), QColor(255, 0, 0));
        QCOMPARE(w.form->Player().State().Voices[w.form->Player().State().VoiceOrder[0]].Key, kZ);
        w.Key(QEvent::KeyRelease, Qt::Key_Z);
        w.PlayBlocks(1);
        QCOMPARE(w.form->KeyButtons()[kZ]->Color(), Qt::white);

        TColorButton* key = w.form->KeyButtons()[20];
        QTest::mousePress(key, Qt::LeftButton);
        w.PlayBlocks(1);
        QCOMPARE(key->Color(), QColor(255, 0, 0));
        QTest::mouseRelease(key, Qt::LeftButton);
        w.PlayBlocks(1);
        QCOMPARE(key->Color(), Qt::black);
    }

    void functionKeyReloadsTheSelectedSlotWhileAClickDoesNothing() {
        Window w;
        QScrollBar* cutoff = w.Bar("ScrollBarCutOff");
        cutoff->setValue(10);
        w.ClickPresetItem(0);
        QCOMPARE(cutoff->value(), 10);
        w.Tap(Qt::Key_F1);
        QCOMPARE(cutoff->value(), 50);
        QCOMPARE(w.form->Sound().CutoffHz, 348);
        // F3 twice loads slot 2 twice.
        w.Tap(Qt::Key_F3);
        cutoff->setValue(10);
        w.Tap(Qt::Key_F3);
        QCOMPARE(cutoff->value(), 50);
        QCOMPARE(w.form->Panel().RadioPreset->ItemIndex(), 2);
    }

    void loadedPresetShowsInEveryKindOfControl() {
        Window w;
        QFile file(QString::fromStdString(w.SettingsFile().string()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[PRESET1]\r\nWAVE1_TYPE=3\r\nWAVE1_OCTAVE=0\r\nMOD_TYPE=1\r\nMOD_ON=1\r\n"
                   "WAVE2_DETUNE=1\r\nVCF_RESONANCE=100\r\n");
        file.close();
        w.Tap(Qt::Key_F2);
        QCOMPARE(w.Find<TRadioGroup>("RadioWaveSel1")->ItemIndex(), 3);
        QCOMPARE(w.Find<TRadioGroup>("RadioOctave1")->ItemIndex(), 0);
        QVERIFY(w.Find<QRadioButton>("RadioButtonModType1")->isChecked());
        QVERIFY(!w.Find<QRadioButton>("RadioButtonModType0")->isChecked());
        QVERIFY(w.Find<QCheckBox>("CheckBoxModOn")->isChecked());
        QVERIFY(w.Find<QCheckBox>("CheckBoxChorus")->isChecked());
        QCOMPARE(w.Bar("ScrollBarResonance")->value(), 90);
        QCOMPARE(w.LabelText("LabelResonance"), QString("0.90"));
        QCOMPARE(w.form->Sound().Osc1Wave, 3);
        QVERIFY(w.form->Sound().ModSquare);
        // Back to slot 0: the shape pair follows the other way.
        w.Tap(Qt::Key_F1);
        QVERIFY(w.Find<QRadioButton>("RadioButtonModType0")->isChecked());
        QVERIFY(!w.Find<QRadioButton>("RadioButtonModType1")->isChecked());
        QVERIFY(!w.form->Sound().ModSquare);
    }

    void saveModeSavesOnTheNextSelection() {
        Window w;
        w.Bar("ScrollBarCutOff")->setValue(77);
        QTest::mouseClick(w.form->Panel().ButtonPresetSave, Qt::LeftButton);
        QCOMPARE(w.form->Panel().ButtonPresetSave->text(), QString::fromUtf8("キャンセル"));
        QCOMPARE(w.form->Panel().RadioPreset->title(),
                 QString::fromUtf8("保存先を選択してください"));
        QCOMPARE(w.form->Panel().RadioPreset->ItemIndex(), -1);
        w.Tap(Qt::Key_F3);
        QVERIFY(w.SettingsText().contains("[PRESET2]\r\n"));
        QVERIFY(w.SettingsText().contains("VCF_CUTOFF=77\r\n"));
        QCOMPARE(w.form->Panel().ButtonPresetSave->text(), QString::fromUtf8("音色保存"));
        QCOMPARE(w.form->Panel().RadioPreset->title(), QString::fromUtf8("音色プリセット"));
        QCOMPARE(w.form->Panel().RadioPreset->ItemIndex(), 2);
        QCOMPARE(w.Bar("ScrollBarCutOff")->value(), 77);

        // Cancelling saves nothing, selects nothing and leaves the sound alone.
        const QString fileBefore = w.SettingsText();
        const int cutoffBefore = w.form->Sound().CutoffHz;
        QTest::mouseClick(w.form->Panel().ButtonPresetSave, Qt::LeftButton);
        QTest::mouseClick(w.form->Panel().ButtonPresetSave, Qt::LeftButton);
        QCOMPARE(w.form->Panel().RadioPreset->ItemIndex(), -1);
        QCOMPARE(w.form->Panel().ButtonPresetSave->text(), QString::fromUtf8("音色保存"));
        QCOMPARE(w.form->Sound().CutoffHz, cutoffBefore);
        QCOMPARE(w.SettingsText(), fileBefore);
        // A click on the slot loaded last loads it again now that nothing is selected.
        w.Bar("ScrollBarCutOff")->setValue(5);
        w.ClickPresetItem(2);
        QCOMPARE(w.Bar("ScrollBarCutOff")->value(), 77);
    }

    // A settings path that cannot be read: each load says so once, the panel and the
    // sound are those of a fresh installation, and the path is left as it was at exit.
    void unreadableSettingsPathPlaysTheDefaults_data() {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"directory", "fifo", "device link", "no read permission"})
            QTest::newRow(kind) << QString(kind);
    }
    void unreadableSettingsPathPlaysTheDefaults() {
        QFETCH(QString, kind);
        if (kind == "no read permission" && geteuid() == 0)
            QSKIP("root reads a file whatever its permission bits");
        Window w([&](const QString& path) {
            const QByteArray name = QFile::encodeName(path);
            if (kind == "directory")
                QVERIFY(QDir().mkdir(path));
            else if (kind == "fifo")
                QCOMPARE(mkfifo(name.constData(), 0600), 0);
            else if (kind == "device link")
                QCOMPARE(symlink("/dev/null", name.constData()), 0);
            else {
                QFile file(path);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write("[SETUP]\r\nTUNING=4500\r\n");
                file.close();
                QVERIFY(file.setPermissions(QFile::WriteOwner));
            }
        });
        const QString path = QString::fromStdString(w.SettingsFile().string());
        const auto pathState = [&] {
            const QFileInfo info(path);
            return std::make_tuple(info.isDir(), info.isSymLink(), info.symLinkTarget(),
                                   info.size(), int(info.permissions()));
        };
        const auto before = pathState();
        const std::string cannotOpen = "ファイル " + w.SettingsFile().string() + " は開けません.";
        QCOMPARE(w.errors, std::vector<std::string>(2, cannotOpen));

        Window fresh;
        QCOMPARE(w.LabelText("LabelTuning"), QString("440.0"));
        for (int i = 0; i < kControlCount; ++i) {
            const auto id = static_cast<ControlId>(i);
            QCOMPARE(ShownPosition(*w.form, id), ShownPosition(*fresh.form, id));
            QCOMPARE(LabelOf(*w.form, id), LabelOf(*fresh.form, id));
        }
        for (Window* window : {&w, &fresh}) {
            window->Key(QEvent::KeyPress, Qt::Key_Z);
            window->PlayBlocks(5);
            window->Key(QEvent::KeyRelease, Qt::Key_Z);
            window->PlayBlocks(40);
        }
        QVERIFY(w.Device().Played() == fresh.Device().Played());

        QTest::mouseClick(w.form->Panel().UpDownTuning->UpButton(), Qt::LeftButton);
        w.CloseWindow();
        QCOMPARE(pathState(), before);
    }

    void tuningClicksAndWhenItIsSaved() {
        {
            Window w;
            for (int click = 0; click < 3; ++click)
                QTest::mouseClick(w.form->Panel().UpDownTuning->UpButton(), Qt::LeftButton);
            QCOMPARE(w.LabelText("LabelTuning"), QString("440.6"));
            QCOMPARE(w.form->Sound().Tuning, 4406);
            w.CloseWindow();
            QVERIFY(w.SettingsText().contains("[SETUP]\r\nTUNING=4406\r\n"));
        }
        {
            Window w;
            w.form->SetTuning(4700);
            QTest::mouseClick(w.form->Panel().UpDownTuning->UpButton(), Qt::LeftButton);
            QCOMPARE(w.LabelText("LabelTuning"), QString("470.0"));
            QVERIFY(!w.form->Tuning().Changed());
            w.CloseWindow();
            QVERIFY(w.SettingsText().isEmpty()); // untouched: no file written
        }
        {
            Window w;
            QTest::mouseClick(w.form->Panel().btnTuningReset, Qt::LeftButton);
            w.CloseWindow();
            QVERIFY(w.SettingsText().contains("TUNING=4400\r\n"));
        }
    }

    // The close waits until the device has played what was rendered ahead, by the title
    // bar or by the exit button.
    void closeWaitsUntilWhatWasRenderedIsHeard() {
        for (const bool byButton : {false, true}) {
            Window w;
            w.form->show();
            w.Key(QEvent::KeyPress, Qt::Key_Z);
            w.PlayBlocks(3);
            if (byButton)
                QTest::mouseClick(w.form->btnExit, Qt::LeftButton);
            else
                QVERIFY(!w.form->close());
            QVERIFY(w.form->isVisible());
            w.Device().PlayBlocks(1);
            const std::vector<std::int16_t>& played = w.Device().Played();
            QVERIFY(std::any_of(played.end() - kBlockSamples, played.end(),
                                [](std::int16_t v) { return v != 0; }));
            w.Drain();
            QVERIFY(!w.form->isVisible());
        }
    }

    // A device that cannot be opened: the box says why, the sweep stays off, and with
    // nothing to play out the window closes at once.
    void withoutSoundTheWindowWarnsAndClosesAtOnce() {
        ManualOutputs outputs;
        outputs.FailNext(1000, "no server");
        std::vector<std::string> errors;
        QTemporaryDir folder;
        MainWindow form(
            {outputs.Classic(), std::filesystem::path(folder.path().toStdString()) / "x.ini",
             folder.path().toStdString(),
             [&](const std::string& shown) { errors.push_back(shown); }, std::nullopt, false});
        QCOMPARE(errors.size(), std::size_t{1});
        QVERIFY(errors[0].starts_with("Problem creating play handle: no server\n"));
        QVERIFY(!form.Input().SweepRunning());
        form.show();
        QVERIFY(form.close());
    }

    // A close signal closes as the exit button does, also when another one comes while
    // the buffers drain: the recording's header gives its exact sizes, the tuning is kept.
    void closeSignalClosesAsTheExitButton_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("boxWaiting");
        QTest::newRow("SIGTERM") << SIGTERM << false;
        QTest::newRow("SIGINT") << SIGINT << false;
        QTest::newRow("SIGHUP") << SIGHUP << false;
        QTest::newRow("SIGTERM while a box waits for its OK") << SIGTERM << true;
    }
    void closeSignalClosesAsTheExitButton() {
        QFETCH(int, signal);
        QFETCH(bool, boxWaiting);
        Window w;
        w.form->show();
        QDialog box(w.form.get());
        if (boxWaiting)
            box.open();
        int requests = 0;
        SignalClose closer([&] {
            ++requests;
            CloseOnSignal(*w.form);
        });
        QVERIFY(closer.Install().ok());
        QTest::mouseClick(w.form->btnRecord, Qt::LeftButton);
        QTest::mouseClick(w.form->Panel().UpDownTuning->UpButton(), Qt::LeftButton);
        w.PlayBlocks(3);

        QCOMPARE(raise(signal), 0);
        QTRY_COMPARE(requests, 1);
        QVERIFY(!box.isVisible());
        QVERIFY(w.form->isVisible()); // draining
        QCOMPARE(raise(signal), 0);
        QTRY_COMPARE(requests, 2);
        w.Drain();
        QVERIFY(!w.form->isVisible());

        QVERIFY(w.SettingsText().contains("[SETUP]\r\nTUNING=4402\r\n"));
        QCOMPARE(w.Recordings().size(), 1);
        const QByteArray bytes = w.FirstRecording();
        QCOMPARE(bytes.size(), 46 + 882 * 3);
        const auto le32 = [&](int at) {
            return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(bytes.data() + at));
        };
        QCOMPARE(le32(4), quint32(bytes.size() - 8));
        QCOMPARE(le32(42), quint32(bytes.size() - 46));
    }

    // A close asked for by a signal waits for nobody: with a changed tuning and a settings
    // path that cannot be written, the message goes to standard error and the window closes.
    void signalCloseWaitsForNoBox() {
        Window w;
        w.form->show();
        QMessageBox waiting(w.form.get());
        waiting.open();
        QTest::mouseClick(w.form->Panel().UpDownTuning->UpButton(), Qt::LeftButton);
        QVERIFY(QDir().mkpath(QString::fromStdString(w.SettingsFile().string()) + "/x"));
        std::ostringstream stderrText;
        std::streambuf* const previous = std::cerr.rdbuf(stderrText.rdbuf());
        w.form->CloseForSignal();
        w.Drain();
        std::cerr.rdbuf(previous);
        QVERIFY(!w.form->isVisible());
        QVERIFY(!waiting.isVisible());
        QVERIFY(w.errors.empty());
        QVERIFY2(stderrText.str().find(w.SettingsFile().string()) != std::string::npos,
                 stderrText.str().c_str());
    }

    // The window's own boxes: one at a time and in order, none waiting inside another's
    // handler. A box the close raises keeps the window up until it is answered; a close
    // signal sends what still waits to standard error instead.
    void errorBoxesComeOneAfterAnother_data() {
        QTest::addColumn<bool>("bySignal");
        QTest::newRow("answered") << false;
        QTest::newRow("close signal") << true;
    }
    void errorBoxesComeOneAfterAnother() {
        QFETCH(bool, bySignal);
        QTemporaryDir folder;
        const std::filesystem::path settings =
            std::filesystem::path(folder.path().toStdString()) / "morvane.ini";
        ManualOutputs outputs;
        outputs.FailNext(1000, "no device here");
        MainWindow form(
            {outputs.Classic(), settings, folder.path().toStdString(), {}, std::nullopt, false});
        form.show();
        const auto shown = [&form] {
            QStringList texts;
            for (QMessageBox* box : form.findChildren<QMessageBox*>())
                if (box->isVisible())
                    texts << box->text();
            return texts;
        };
        const auto answer = [&form] {
            for (QMessageBox* box : form.findChildren<QMessageBox*>())
                if (box->isVisible())
                    box->accept();
        };
        QCOMPARE(shown().size(), 1);
        QVERIFY(shown().front().contains("no device here"));
        // Raised while the first box is up: it waits its turn.
        form.btnRecord->click();
        QCOMPARE(shown().size(), 1);
        form.Tuning().ClickUp();
        QVERIFY(QDir().mkpath(QString::fromStdString(settings.string()) + "/x"));

        if (bySignal) {
            std::ostringstream stderrText;
            std::streambuf* const previous = std::cerr.rdbuf(stderrText.rdbuf());
            form.CloseForSignal();
            std::cerr.rdbuf(previous);
            QVERIFY(shown().isEmpty());
            QVERIFY(!form.isVisible());
            const std::string text = stderrText.str();
            const auto recordAt = text.find("nothing can be recorded");
            QVERIFY2(recordAt != std::string::npos && text.find(settings.string()) > recordAt,
                     text.c_str());
            return;
        }
        answer();
        QCOMPARE(shown().size(), 1);
        QVERIFY(shown().front().contains("nothing can be recorded"));
        QVERIFY(!form.close());
        QVERIFY(form.isVisible());
        answer();
        QCOMPARE(shown().size(), 1);
        QVERIFY(shown().front().contains(QString::fromStdString(settings.string())));
        QVERIFY(form.isVisible());
        answer();
        QVERIFY(shown().isEmpty());
        QVERIFY(!form.isVisible());
    }

    void recordingFromTheButton() {
        Window w;
        w.form->show();
        QTest::mouseClick(w.form->btnRecord, Qt::LeftButton);
        QCOMPARE(w.form->btnRecord->text(), QString::fromUtf8("中止"));
        QCOMPARE(Glyph(*w.form->btnRecord), StopGlyph().toImage());
        w.PlayBlocks(3);
        w.CloseWindow(); // closing finishes the file
        QTRY_COMPARE(w.form->btnRecord->text(), QString::fromUtf8("録音"));
        QCOMPARE(Glyph(*w.form->btnRecord), RecordGlyph().toImage());
        QCOMPARE(w.Recordings().size(), 1);
        QVERIFY(
            QRegularExpression("^\\d{8}-\\d{6}\\.wav$").match(w.Recordings().front()).hasMatch());
        const QByteArray bytes = w.FirstRecording();
        QCOMPARE(bytes.size(), 46 + 882 * 3);
        const auto le32 = [&](int at) {
            return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(bytes.data() + at));
        };
        QCOMPARE(le32(4), 38u + 882 * 3);
        QCOMPARE(le32(42), 882u * 3);
        QCOMPARE(bytes.mid(0, 4), QByteArray("RIFF"));
    }

    // Every caption and value label of the panel is set in the Japanese font at 12 px
    // and shows its whole text within its box, in Japanese and in English.
    void panelTextsKeepTheirFontAndFit_data() {
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("tuningCaption");
        QTest::addColumn<QString>("exitCaption");
        QTest::newRow("Japanese") << false << "チューニング"
                                  << "終了";
        QTest::newRow("English") << true << "Tuning"
                                 << "Exit";
    }
    void panelTextsKeepTheirFontAndFit() {
        QFETCH(bool, english);
        QFETCH(QString, tuningCaption);
        QFETCH(QString, exitCaption);
        QTranslator translator;
        if (english) {
            QVERIFY(translator.load(":/translations/morvane_en.qm"));
            QCoreApplication::installTranslator(&translator);
        }
        Window w;
        w.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        QCOMPARE(w.Find<QGroupBox>("TuningGroup")->title(), tuningCaption);
        QCOMPARE(w.Find<QToolButton>("btnExit")->text(), exitCaption);
        const auto widgets = w.form->Panel().findChildren<QWidget*>();
        for (QWidget* widget : widgets) {
            const QFontInfo font(widget->font());
            QVERIFY2(font.family() == "Noto Sans CJK JP", qPrintable(widget->objectName()));
            QCOMPARE(font.pixelSize(), 12);
            if (auto* label = qobject_cast<QLabel*>(widget)) {
                const int width = label->fontMetrics().horizontalAdvance(label->text());
                QVERIFY2(width <= label->contentsRect().width(), qPrintable(label->text()));
            }
            if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
                // A check box or radio button's text starts after its indicator.
                int indicator = 0;
                if (qobject_cast<QCheckBox*>(button))
                    indicator = button->style()->pixelMetric(QStyle::PM_IndicatorWidth);
                if (qobject_cast<QRadioButton*>(button))
                    indicator = button->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth);
                const int width =
                    indicator + button->fontMetrics().horizontalAdvance(button->text());
                QVERIFY2(width <= button->width(), qPrintable(button->text()));
            }
        }
        if (english)
            QCoreApplication::removeTranslator(&translator);
    }

    // Learn from the slider's menu: the next controller takes the slider from its default
    // controller, moves it as a drag would, and the binding is in the settings file at
    // once, for the next start; letting go is kept the same way.
    void midiLearnFromTheSliderMenuIsSaved() {
        Window window;
        const auto* bar = static_cast<QScrollBar*>(window.form->Panel().ControlWidget(EnvAttack));
        const QString label = window.form->Panel().ValueLabel(EnvAttack)->text();
        std::unique_ptr<QMenu> menu(window.form->MidiLearnMenu(EnvAttack));
        const QList<QAction*> actions = menu->actions();
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions[0]->text(), QString("MIDI学習"));
        QCOMPARE(actions[1]->text(), QString("MIDI学習を解除"));
        QCOMPARE(actions[2]->text(), QString("割り当て: CC73"));
        QVERIFY(!actions[2]->isEnabled());
        actions[0]->trigger();
        window.PlayBlocks(1); // armed at the next block
        const unsigned char controller[] = {0xB0, 20, 127};
        SequencerFeed(window.form->Player()).Receive(controller);
        window.PlayBlocks(1);
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(window.form->Panel().ValueLabel(EnvAttack)->text() != label);
        QVERIFY(window.SettingsText().contains("CC20=ENV_ATTACK"));

        menu.reset(); // before the window that owns it goes
        window.CloseWindow();
        window.Open();
        QCOMPARE(window.form->Bindings().ControlFor(20), std::optional<ControlId>(EnvAttack));
        QCOMPARE(window.form->Bindings().ControlFor(73), std::nullopt);
        QCOMPARE(window.form->Bindings().ControlFor(74), std::optional<ControlId>(VcfCutoff));
        std::unique_ptr<QMenu>(window.form->MidiLearnMenu(EnvAttack))->actions()[1]->trigger();
        QVERIFY(window.errors.empty());
        window.CloseWindow();
        window.Open();
        QCOMPARE(window.form->Bindings().ControlFor(20), std::nullopt);
        QCOMPARE(window.form->Bindings().ControlFor(73), std::nullopt);
        QCOMPARE(window.form->Bindings().ControlFor(74), std::optional<ControlId>(VcfCutoff));
    }

    // The slider waiting for a controller is framed until one comes or Esc gives up; a
    // controller taken from another slider is said, in the MIDI window and by the slider.
    void midiLearnIsMarkedUntilAControllerOrEsc() {
        Window window;
        // The menu's and Esc's events reach the player at the next block, behind the MIDI
        // queued for it: a block goes by first.
        auto midi = [&](std::initializer_list<unsigned char> bytes) {
            window.PlayBlocks(1);
            const std::vector<unsigned char> message(bytes);
            SequencerFeed(window.form->Player()).Receive(message);
            window.PlayBlocks(1);
        };
        FrontPanel& panel = window.form->Panel();
        const QWidget* mark = panel.findChild<QWidget*>("learnMark");
        QVERIFY(!mark);
        std::unique_ptr<QMenu>(window.form->MidiLearnMenu(EnvAttack))->actions()[0]->trigger();
        QCOMPARE(panel.MarkedForLearning(), std::optional<ControlId>(EnvAttack));
        mark = panel.findChild<QWidget*>("learnMark");
        QVERIFY(mark && !mark->isHidden());
        QVERIFY(mark->geometry().contains(panel.ControlWidget(EnvAttack)->geometry()));
        window.Tap(Qt::Key_Escape);
        QCOMPARE(panel.MarkedForLearning(), std::nullopt);
        QVERIFY(mark->isHidden());
        midi({0xB0, 20, 127});
        QCOMPARE(window.form->Bindings().ControlFor(20), std::nullopt);

        std::unique_ptr<QMenu>(window.form->MidiLearnMenu(EnvAttack))->actions()[0]->trigger();
        QVERIFY(!mark->isHidden());
        midi({0xB0, 74, 127});
        QCOMPARE(panel.MarkedForLearning(), std::nullopt);
        QVERIFY(mark->isHidden());
        QCOMPARE(window.form->Bindings().ControlFor(74), std::optional<ControlId>(EnvAttack));
        QCOMPARE(window.form->midiWindow->statusLine->text(),
                 QString("CC74 は VCF_CUTOFF から ENV_ATTACK に移りました"));
        QCOMPARE(
            std::unique_ptr<QMenu>(window.form->MidiLearnMenu(EnvAttack))->actions()[2]->text(),
            QString("割り当て: CC74"));
        QCOMPARE(
            std::unique_ptr<QMenu>(window.form->MidiLearnMenu(VcfCutoff))->actions()[2]->text(),
            QString("割り当て: なし"));
        std::unique_ptr<QMenu>(window.form->MidiLearnMenu(VcfCutoff))->actions()[0]->trigger();
        midi({0xD0, 64}); // channel aftertouch
        QCOMPARE(
            std::unique_ptr<QMenu>(window.form->MidiLearnMenu(VcfCutoff))->actions()[2]->text(),
            QString("割り当て: AT"));
        QVERIFY(window.errors.empty());
    }

    // The MIDI window's settings reach the settings file and the player: the channel heard
    // (and the lamp), a binding removed, the defaults restored; --midi-channel wins.
    void midiWindowSettingsReachTheFileAndThePlayer() {
        Window window;
        MidiWindow& midiWindow = *window.form->midiWindow;
        window.form->btnMidi->click();
        QVERIFY(midiWindow.isVisible());
        QCOMPARE(midiWindow.windowTitle(), QString("MIDI設定"));
        QVERIFY(!midiWindow.channelNote->isVisible());
        auto heard = [&](unsigned char channel) {
            window.PlayBlocks(1); // what the window sent goes first
            const std::uint64_t before = window.form->Player().MidiHeard();
            const unsigned char note[] = {static_cast<unsigned char>(0x90 | channel), 60, 100};
            SequencerFeed(window.form->Player()).Receive(note);
            window.PlayBlocks(1);
            return window.form->Player().MidiHeard() > before;
        };
        QVERIFY(heard(0) && heard(4));
        window.form->midiLamp->Look();
        QVERIFY(window.form->midiLamp->Lit());
        QTRY_VERIFY(!window.form->midiLamp->Lit());
        midiWindow.channelBox->setValue(5);
        QVERIFY(window.SettingsText().contains("CHANNEL=5"));
        QVERIFY(!heard(0));
        QVERIFY(heard(4));
        window.form->midiLamp->Look();
        QVERIFY(window.form->midiLamp->Lit());

        // Velocity and the bend range: the defaults shown, a change saved and played.
        const std::pair<const char*, int> playing[] = {
            {"VELOCITY_AMP", 40}, {"VELOCITY_CUTOFF", 70}, {"BEND_RANGE", 24}};
        for (std::size_t i = 0; i < kPlayingControls.size(); ++i) {
            const PlayingControl control = kPlayingControls[i];
            QSpinBox& box = *midiWindow.playingBoxes[i];
            QCOMPARE(box.value(), ReadPlaying(PlayingParameters{}, control));
            box.setValue(playing[i].second);
            window.PlayBlocks(1);
            QVERIFY(window.SettingsText().contains(
                QString("%1=%2").arg(playing[i].first).arg(playing[i].second)));
            QCOMPARE(ReadPlaying(window.form->Player().State(), control), playing[i].second);
        }

        QCOMPARE(midiWindow.bindingList->count(), 5);
        QCOMPARE(midiWindow.bindingList->item(0)->text(), QString("CC71 → VCF_RESONANCE"));
        QVERIFY(!midiWindow.removeButton->isEnabled());
        midiWindow.bindingList->setCurrentRow(0);
        midiWindow.removeButton->click();
        QCOMPARE(midiWindow.bindingList->count(), 4);
        QCOMPARE(window.form->Bindings().ControlFor(71), std::nullopt);
        QCOMPARE(LoadControllerBindings(window.SettingsFile())->ControlFor(71), std::nullopt);
        const auto* resonance =
            static_cast<QScrollBar*>(window.form->Panel().ControlWidget(VcfResonance));
        const int position = resonance->value();
        window.PlayBlocks(1);
        SequencerFeed(window.form->Player()).Receive(std::vector<unsigned char>{0xB4, 71, 127});
        window.PlayBlocks(1);
        QCOMPARE(resonance->value(), position);
        midiWindow.defaultsButton->click();
        QVERIFY(window.form->Bindings() == ControllerBindings::Defaults());
        QCOMPARE(midiWindow.bindingList->count(), 5);
        QVERIFY(*LoadControllerBindings(window.SettingsFile()) == ControllerBindings::Defaults());
        window.PlayBlocks(1);
        SequencerFeed(window.form->Player()).Receive(std::vector<unsigned char>{0xB4, 71, 127});
        window.PlayBlocks(1);
        QCOMPARE(resonance->value(), resonance->maximum());
        QVERIFY(window.errors.empty());

        window.CloseWindow();
        window.Open();
        QCOMPARE(window.form->midiWindow->channelBox->value(), 5);
        QCOMPARE(window.form->midiWindow->ListenedChannel(), std::optional<int>(5));
        window.PlayBlocks(1); // the player takes the file's values at its first block
        for (std::size_t i = 0; i < kPlayingControls.size(); ++i) {
            QCOMPARE(window.form->midiWindow->playingBoxes[i]->value(), playing[i].second);
            QCOMPARE(ReadPlaying(window.form->Player().State(), kPlayingControls[i]),
                     playing[i].second);
        }
        window.CloseWindow();
        window.midiChannel = 2;
        window.Open();
        QCOMPARE(window.form->midiWindow->ListenedChannel(), std::optional<int>(2));
        QVERIFY(!window.form->midiWindow->channelBox->isEnabled());
        QCOMPARE(window.form->midiWindow->channelNote->text(),
                 QString("--midi-channel=2 が優先されています"));
        QVERIFY(!heard(4));
        QVERIFY(heard(1));
    }

    // The bend range RPN 0 sets is shown in its box and kept as a change there would be:
    // the next start plays with what the box showed. Above 24 shows 24.
    void bendRangeSetByMidiIsShownAndSaved() {
        Window window;
        QSpinBox& box = *window.form->midiWindow->playingBoxes[2];
        const auto rpn = [&](unsigned char range) {
            window.PlayBlocks(1);
            const std::vector<unsigned char> messages[] = {
                {0xB0, 101, 0}, {0xB0, 100, 0}, {0xB0, 6, range}};
            for (const std::vector<unsigned char>& message : messages)
                SequencerFeed(window.form->Player()).Receive(message);
            window.PlayBlocks(1);
        };
        for (const auto& [sent, shown] : {std::pair{7, 7}, std::pair{100, 24}, std::pair{0, 0}}) {
            rpn(static_cast<unsigned char>(sent));
            QCOMPARE(box.value(), shown);
            QCOMPARE(window.form->Player().State().BendRange, shown);
            QVERIFY(window.SettingsText().contains(QString("BEND_RANGE=%1").arg(shown)));
        }
        rpn(9);
        window.CloseWindow();
        window.Open();
        window.PlayBlocks(1);
        QCOMPARE(window.form->midiWindow->playingBoxes[2]->value(), 9);
        QCOMPARE(window.form->Player().State().BendRange, 9);
        QVERIFY(window.errors.empty());
    }

    // The sources ticked are kept in the settings file, connected, and connected again
    // when they come back after going away.
    void midiSourcesTickedAreKeptAndReconnected() {
        struct Sources : MidiSources {
            std::vector<std::string>* present;
            std::vector<std::string>* connected;
            std::vector<std::string> List() override { return *present; }
            bool Connected(const std::string& s) override {
                return std::ranges::count(*connected, s) > 0;
            }
            Status Connect(const std::string& s) override {
                if (!Connected(s))
                    connected->push_back(s);
                return {};
            }
            Status Disconnect(const std::string& s) override {
                std::erase(*connected, s);
                return {};
            }
        };
        QTemporaryDir folder;
        const std::filesystem::path file =
            std::filesystem::path(folder.path().toStdString()) / "morvane.ini";
        std::vector<std::string> present = {"keys:out", "pads:out"};
        std::vector<std::string> connected;
        ControllerBindings bindings = ControllerBindings::Defaults();
        auto open = [&] {
            MidiWindowSetup setup{file,
                                  std::nullopt,
                                  [&]() -> std::unique_ptr<MidiSources> {
                                      auto sources = std::make_unique<Sources>();
                                      sources->present = &present;
                                      sources->connected = &connected;
                                      return sources;
                                  },
                                  [](const Status& status) { QVERIFY(status.ok()); },
                                  {}};
            return std::make_unique<MidiWindow>(nullptr, setup, bindings);
        };
        auto window = open();
        QCOMPARE(window->sourceList->count(), 2);
        window->sourceList->item(1)->setCheckState(Qt::Checked);
        QCOMPARE(connected, std::vector<std::string>{"pads:out"});
        QFile settings(QString::fromStdString(file.string()));
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(settings.readAll().contains("SOURCE1=pads:out"));
        settings.close();

        present = {"keys:out"}; // unplugged: it stays in the list, greyed
        connected.clear();
        window->PollSources();
        QCOMPARE(window->sourceList->count(), 2);
        present = {"pads:out", "keys:out"}; // back
        window->PollSources();
        QCOMPARE(connected, std::vector<std::string>{"pads:out"});
        window->sourceList->item(0)->setCheckState(Qt::Unchecked);
        QVERIFY(connected.empty());

        window->sourceList->item(1)->setCheckState(Qt::Checked);
        window.reset();
        connected.clear();
        window = open(); // the next start connects what the file keeps
        QCOMPARE(connected, std::vector<std::string>{"keys:out"});
    }

    // Started before the sound server: one message with the reason and what to do, the
    // window comes up all the same, the device is tried again in silence, and the About
    // box says that nothing plays yet.
    void startedBeforeTheSoundServerSaysWhatToDoAndWaits() {
        qputenv("JACK_DEFAULT_SERVER", "morvane-test-no-such-server");
        qputenv("JACK_NO_START_SERVER", "1");
        QTemporaryDir folder;
        std::vector<std::string> errors;
        RealtimeOutputOptions jack;
        jack.api = AudioApi::Jack;
        MainWindow form(MainWindowSetup{
            LowLatencySession(jack),
            std::filesystem::path(folder.path().toStdString()) / "morvane.ini",
            folder.path().toStdString(),
            [&](const std::string& message) { errors.push_back(message); }, std::nullopt, false});
        QCOMPARE(errors.size(), std::size_t{1});
        const QString message = QString::fromStdString(errors[0]);
        QVERIFY2(message.startsWith("Problem creating play handle: "), qPrintable(message));
        QVERIFY2(message.endsWith("\nサウンドサーバーを起動してください。"
                                  "起動すると Morvane は自動的に接続します。"),
                 qPrintable(message));
        QTest::qWait(1500); // a retry or two
        QCOMPARE(errors.size(), std::size_t{1});
        form.btnAbout->click();
        QCOMPARE(form.AboutBox->OutputLabel->text(),
                 QString("出力: なし（サウンドデバイスを待っています）"));
        form.AboutBox->hide();
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
