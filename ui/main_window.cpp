#include "ui/main_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QThread>
#include <QToolButton>
#include <QToolTip>

#include <iostream>
#include <utility>
#include <variant>

#include "audio/jack_output.h"
#include "audio/midi_sources.h"
#include "base/overloaded.h"
#include "engine/startup.h"
#include "settings/midi_bindings_file.h"
#include "settings/midi_settings_file.h"
#include "ui/about_box.h"
#include "ui/caption_font.h"
#include "ui/error_boxes.h"
#include "ui/front_panel.h"
#include "ui/glyphs.h"
#include "ui/midi_learn_menu.h"
#include "ui/midi_window.h"
#include "ui/mixer.h"
#include "ui/panel_widgets.h"
#include "ui/signal_close.h"
#include "ui/translation.h"

namespace morvane {

namespace {

constexpr int kClientWidth = 522;

const char* const kWindowCaption = "Morvane";
const char* const kRecordCaption = QT_TRANSLATE_NOOP("morvane::MainWindow", "録音");
const char* const kStopCaption = QT_TRANSLATE_NOOP("morvane::MainWindow", "中止");

// How often the window brings back key colours and passes on the panel's sound: a
// quarter of a block, well below what an eye or an ear notices.
constexpr int kReturnIntervalMs = 5;
// How often an open About box shows the audio path's figures anew.
constexpr std::chrono::milliseconds kHealthInterval{500};

// The flat buttons below the panel, on the window itself.
struct FlatButtonLayout {
    const char* name;
    const char* caption;
    QRect rect;
};

const FlatButtonLayout kOutputButton = {
    "btnOutput", QT_TRANSLATE_NOOP("morvane::MainWindow", "音量"), {456, 328, 57, 25}};
const FlatButtonLayout kRecordButton = {"btnRecord", kRecordCaption, {456, 352, 57, 25}};
const FlatButtonLayout kAboutButton = {"btnAbout", "About", {456, 376, 57, 25}};
const FlatButtonLayout kExitButton = {
    "btnExit", QT_TRANSLATE_NOOP("morvane::MainWindow", "終了"), {456, 400, 57, 25}};
// Below the exit button, narrower, with the MIDI lamp on its left in the same column.
const FlatButtonLayout kMidiButton = {"btnMidi", "MIDI", {470, 424, 43, 25}};
const QRect kMidiLampRect = {458, 432, 9, 9};

// The window's texts are Japanese in the source; the installed translation, if any,
// replaces them. Texts kept in tables are marked for the translator where they are written.
QString Text(const char* utf8) {
    return QCoreApplication::translate("morvane::MainWindow", utf8);
}

QToolButton* MakeFlatButton(QWidget* parent, const FlatButtonLayout& layout) {
    return morvane::MakeFlatButton(parent, layout.name, Text(layout.caption), layout.rect);
}

} // namespace

MainWindow::MainWindow(MainWindowSetup setup, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      controls_(sound_), tuning_(sound_), settingsFile_(std::move(setup.settingsFile)),
      recordingDirectory_(std::move(setup.recordingDirectory)),
      showError_(std::move(setup.showError)), midiChannel_(setup.midiChannel),
      openSequencer_(setup.openSequencer) {
    errorBoxes_ = new ErrorBoxes(this);
    if (!showError_)
        showError_ = [this](const std::string& message) {
            errorBoxes_->Show(ErrorCaption(), TranslatedMessage(message));
        };
    // A close that raised a box (the tuning not saved) ends once it is answered.
    connect(errorBoxes_, &ErrorBoxes::AllAnswered, this, [this] {
        if (closed_)
            close();
    });
    ErrorReporter& errors = *this;
    recorder_ = std::make_unique<WavRecorder>(recordingDirectory_.string(), errors);
    // The recorder's thread writes the blocks, and may stop the recording from there.
    recorder_->SetRecordingListener([this](bool recording) {
        QMetaObject::invokeMethod(this, [this, recording] { ShowRecording(recording); });
    });
    audio_ = std::make_unique<AudioSession>(std::move(setup.audio), *recorder_, errors);
    returnTimer_.setTimerType(Qt::PreciseTimer);
    connect(&returnTimer_, &QTimer::timeout, this, &MainWindow::TendAudio);
    presets_ = std::make_unique<PresetGroup>(controls_, settingsFile_);

    setFont(CaptionFont());
    BuildPanel();
    controls_.SetListener(panel_);
    Start();
}

MainWindow::~MainWindow() {
    // A window destroyed without a close (the application told to quit) still finishes
    // its recording, releases the device and keeps a changed tuning.
    if (!closed_)
        ShutDown();
    controls_.SetListener(nullptr);
}

void MainWindow::BuildPanel() {
    panel_ = new FrontPanel(this);
    connect(panel_, &FrontPanel::ControlMoved, this,
            [this](ControlId id, int position) { controls_.Set(id, position); });
    connect(panel_, &FrontPanel::ControlMenuRequested, this,
            [this](ControlId id, const QPoint& at) {
                std::unique_ptr<QMenu> menu(MidiLearnMenu(id));
                menu->exec(at);
            });
    connect(panel_, &FrontPanel::TuningClicked, this, &MainWindow::UpDownTuningClick);
    connect(panel_, &FrontPanel::TuningResetClicked, this, &MainWindow::btnTuningResetClick);
    connect(panel_, &FrontPanel::PresetClicked, this, &MainWindow::SetPresetSelection);
    connect(panel_, &FrontPanel::PresetSaveClicked, this, &MainWindow::ButtonPresetSaveClick);
    ShowPresetMode();
    BuildFlatButtons();
}

void MainWindow::BuildFlatButtons() {
    btnOutput = MakeFlatButton(this, kOutputButton);
    btnOutput->setIcon(LoudspeakerGlyph());
    btnRecord = MakeFlatButton(this, kRecordButton);
    btnAbout = MakeFlatButton(this, kAboutButton);
    btnExit = MakeFlatButton(this, kExitButton);
    btnMidi = MakeFlatButton(this, kMidiButton);
    midiLamp = new MidiLamp(this, [this] { return player_ ? player_->MidiHeard() : 0; });
    midiLamp->setObjectName("midiLamp");
    midiLamp->setGeometry(kMidiLampRect);
    connect(btnOutput, &QToolButton::clicked, this, [] { LaunchMixer(); });
    connect(btnRecord, &QToolButton::clicked, this, &MainWindow::btnRecordClick);
    connect(btnAbout, &QToolButton::clicked, this, [this] {
        ShowHealth();
        AboutBox->ShowInFront();
    });
    connect(btnExit, &QToolButton::clicked, this, &MainWindow::close);
    connect(btnMidi, &QToolButton::clicked, this, [this] {
        midiWindow->show();
        midiWindow->raise();
        midiWindow->activateWindow();
    });
}

// The start-up order matters: the start-up slider moves before the first preset, the key
// buttons before it too, and the sweep only once the device plays.
void MainWindow::Start() {
    btnRecord->setIcon(RecordGlyph());
    setWindowTitle(kWindowCaption);
    setWindowIcon(ProgramIcon());
    // An unreadable settings file is reported and the program plays at A = 440.0 Hz;
    // the file is left alone at exit unless the user touches the tuning.
    sound_.Tuning = kDefaultTuning;
    ShowFileError(tuning_.LoadTuning(settingsFile_));
    controls_.MoveStartUpSliders();
    SetTuning(sound_.Tuning);

    keyButtons_ = std::make_unique<TKeyButtons>(this, FrontPanel::kHeight);
    input_ = std::make_unique<KeyboardInput>(
        this, [this](const Command& command) { SendEvent(command); }, *keyButtons_,
        [this](int slot) { SetPresetSelection(slot); });
    panel_->raise();
    setFixedSize(kClientWidth, keyButtons_->LowerRowTop() + kRowHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    AboutBox = new TAboutBox(this);
    AboutBox->ShowFileLocations(settingsFile_, recordingDirectory_);

    LoadFirstPreset();
    LoadBindings();
    BuildMidiWindow();
    const bool playing = OpenAudio();
    if (openSequencer_ && player_ && !audio_->TakesMidi())
        OpenSequencer();
    // The sources kept in the file are connected now, not a poll later.
    midiWindow->PollSources();
    if (playing)
        input_->StartSweep();
}

// The player starts from the first preset's sound. True when the device plays: only
// then does the stuck-key sweep start. Without a device the player still takes every
// input on this thread, so that the keys light up as they always have, and the sweep
// starts with the device once it comes.
bool MainWindow::OpenAudio() {
    const Status opened = audio_->Open();
    if (!CreatePlayer(audio_->DeviceRate())) {
        audio_->Close();
        return false;
    }
    if (Status started = audio_->Start(*player_); !started) {
        ShowError(WithReason(kOpenError, started.error()));
        audio_->Close();
        return false;
    }
    returnTimer_.start(kReturnIntervalMs);
    if (opened)
        return true;
    ShowError(WithReason(kOpenError, opened.error()) + "\n" +
              tr("サウンドサーバーを起動してください。起動すると Morvane は自動的に接続します。")
                  .toStdString());
    return false;
}

bool MainWindow::CreatePlayer(int deviceRate) {
    Result<std::unique_ptr<RealtimePlayer>> player =
        RealtimePlayer::Create(sound_, RealtimePlayer::Pace::Live, deviceRate);
    if (!player) {
        ShowError(WithReason(kOpenError, player.error()));
        return false;
    }
    player_ = std::move(*player);
    // The channel was checked with the command line, or clamped as the file was read.
    static_cast<void>(player_->ListenToMidi(midiWindow->ListenedChannel(), bindings_));
    SendPresets();
    SendPlaying();
    sentSound_ = sound_;
    return true;
}

// The callback takes the event at its next block; without a device this thread applies
// it at once.
void MainWindow::SendEvent(const PlayerEvent& event) {
    if (!player_)
        return;
    SyncSound();
    if (player_->SendOrKeep(event) && !std::exchange(waitingTold_, true))
        std::cerr << "morvane: input came faster than the sound takes it; it is played a "
                     "moment late, and none of it is lost\n";
    if (!audio_->Playing()) {
        ApplyHere();
        DrainReturnQueues();
    }
}

// Without a device this thread takes the player's input itself: all of it, what waits
// for room in its queue included.
void MainWindow::ApplyHere() {
    for (bool allSent = false; !allSent;) {
        allSent = player_->SendWaiting();
        player_->Apply();
    }
}

// Without a sequencer the program plays on from the keyboard and JACK; saying so once
// is enough, as a box at every start would be a nuisance in a container. The messages go
// to the player on the sequencer's thread; while no device plays, the timer applies them
// here.
void MainWindow::OpenSequencer() {
    Result<std::unique_ptr<SequencerInput>> opened = SequencerInput::Open(*player_);
    if (!opened) {
        std::cerr << "morvane: " << opened.error().message << '\n';
        return;
    }
    sequencer_ = std::move(*opened);
}

// The slider stays framed until a controller arrives or Esc gives the learn up.
QMenu* MainWindow::MidiLearnMenu(ControlId id) {
    return morvane::MidiLearnMenu(
        this, bindings_.ControllerFor(id),
        [this, id] {
            panel_->MarkLearning(id);
            SendEvent(ArmLearn{id});
        },
        [this, id] {
            bindings_.Unbind(id);
            SendEvent(ForgetController{id});
            SaveBindings();
            midiWindow->ShowBindings();
        });
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && panel_->MarkedForLearning()) {
        SendEvent(CancelLearn{});
        panel_->MarkLearning(std::nullopt);
        return;
    }
    QWidget::keyPressEvent(event);
}

// The MIDI window keeps the channel, the playing settings and the sources; the bindings stay here,
// where the sliders' menus and MIDI learn change them too.
void MainWindow::BuildMidiWindow() {
    const auto skipped = [this](const std::string& line, const std::string& why) {
        std::cerr << "morvane: " << settingsFile_.string() << ", section MIDI: skipped \"" << line
                  << "\": " << why << '\n';
    };
    midiWindow = new MidiWindow(
        this,
        MidiWindowSetup{settingsFile_, midiChannel_, [this] { return OpenMidiSources(); },
                        [this](const Status& status) { ShowFileError(status); }, skipped},
        bindings_);
    connect(midiWindow, &MidiWindow::MidiSetupChanged, this, &MainWindow::ListenToMidiAnew);
    connect(midiWindow, &MidiWindow::PlayingChanged, this,
            [this](PlayingControl control, int value) {
                SendEvent(Command{SetPlaying{control, value}});
            });
    connect(midiWindow, &MidiWindow::BindingsChanged, this, &MainWindow::SaveBindings);
}

// JACK's sources when MIDI comes through the output's JACK port, else the sequencer's;
// none while neither is open (they are looked for again at the next poll).
std::unique_ptr<MidiSources> MainWindow::OpenMidiSources() {
    Result<std::unique_ptr<MidiSources>> opened =
        audio_ && audio_->TakesMidi()
            ? OpenJackMidiSources(audio_->Health()->device + ":" + JackOutput::kMidiPortName)
        : sequencer_ ? OpenSequencerMidiSources()
                     : Result<std::unique_ptr<MidiSources>>(Error{"no MIDI input"});
    if (!opened)
        return nullptr;
    return std::move(*opened);
}

void MainWindow::ListenToMidiAnew() {
    SendEvent(MidiSetup{midiWindow->ListenedChannel(), bindings_});
}

// A settings file that cannot be read has been reported with the tuning; the default
// bindings stand in. A line of the section that binds nothing is named once, at start-up.
void MainWindow::LoadBindings() {
    Result<ControllerBindings> loaded = LoadControllerBindings(
        settingsFile_, [this](const std::string& line, const std::string& why) {
            std::cerr << "morvane: " << settingsFile_.string() << ", section MIDI: skipped \""
                      << line << "\": " << why << '\n';
        });
    bindings_ = loaded ? *loaded : ControllerBindings::Defaults();
}

void MainWindow::SaveBindings() {
    ShowFileError(SaveControllerBindings(settingsFile_, bindings_));
}

// What MIDI asks of the panel, done as the user would: a slider dragged (its label
// follows), a function key pressed, a learnt binding kept at once, a bend range shown and
// kept as its box keeps one.
void MainWindow::ApplyPanelAction(const PanelAction& action) {
    std::visit(
        Overloaded{
            [&](const SetControl& move) {
                static_cast<QScrollBar*>(panel_->ControlWidget(move.id))->setValue(move.position);
            },
            [&](const LoadProgram& load) {
                const Status loaded = presets_->LoadSlot(load.slot);
                ShowPresetMode();
                ShowFileError(loaded);
                SendPresets();
            },
            [&](const ControllerLearnt& learnt) {
                const std::optional<ControlId> before = bindings_.ControlFor(learnt.controller);
                panel_->MarkLearning(std::nullopt);
                if (!bindings_.Bind(learnt.controller, learnt.id))
                    return;
                SaveBindings();
                midiWindow->ShowBindings();
                if (before && *before != learnt.id) {
                    midiWindow->ShowControllerTaken(learnt.controller, *before, learnt.id);
                    QToolTip::showText(panel_->ControlWidget(learnt.id)->mapToGlobal(QPoint(0, 0)),
                                       midiWindow->statusLine->text(),
                                       panel_->ControlWidget(learnt.id));
                }
            },
            [&](const SetPlaying& set) { midiWindow->ShowPlaying(set.control, set.value); },
        },
        action);
    SyncSound();
}

// The whole sound goes over as one value whenever it differs from what the player has:
// before every key and on the timer, so a
// preset load is never heard half done. It goes again once the panel has shown what MIDI
// did: the player drops a sound taken before that.
void MainWindow::SyncSound() {
    if (!player_ || (sound_ == sentSound_ && panelActionsSeen_ == sentPanelActionsSeen_))
        return;
    // Behind whatever input waits, as it came after it.
    player_->SendOrKeep(PanelSound{SetSound{sound_}, panelActionsSeen_});
    sentSound_ = sound_;
    sentPanelActionsSeen_ = panelActionsSeen_;
    if (!audio_->Playing())
        ApplyHere();
}

void MainWindow::DrainReturnQueues() {
    while (std::optional<KeyColourChanges> changes = player_->PopKeyColours())
        ShowKeyColours(*changes, *keyButtons_);
    while (std::optional<PanelAction> action = player_->PopPanelAction()) {
        ++panelActionsSeen_;
        ApplyPanelAction(*action);
    }
}

void MainWindow::TendAudio() {
    if (!player_ || closed_)
        return;
    SyncSound();
    player_->SendWaiting();
    audio_->Tend();
    if (!audio_->Playing())
        ApplyHere();
    DrainReturnQueues();
    if (audio_->Playing() && !input_->SweepRunning())
        input_->StartSweep();
    if (AboutBox->isVisible() && std::chrono::steady_clock::now() >= nextHealthShown_)
        ShowHealth();
    // A box the close raises keeps the window up until it is answered; the device is
    // released before.
    if (drainRequested_ && audio_->Drained()) {
        returnTimer_.stop();
        close();
    }
}

void MainWindow::ShowHealth() {
    nextHealthShown_ = std::chrono::steady_clock::now() + kHealthInterval;
    AboutBox->ShowOutputHealth(audio_->Health(), audio_->Grown());
}

// The title-bar close, Alt+F4 and the exit button all come here. The first request only
// starts the drain; the timer asks again once the device has played out what it had.
void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closed_ && !ReadyToClose()) {
        event->ignore();
        return;
    }
    if (!closed_)
        ShutDown();
    // The window stays until the close's own box is answered, as the program ends with it.
    if (errorBoxes_->Busy()) {
        event->ignore();
        return;
    }
    event->accept();
}

// The player stops rendering at once and the close is granted when the device has
// played what it had, or at once when it has nothing or is gone.
bool MainWindow::ReadyToClose() {
    if (!returnTimer_.isActive())
        return true;
    drainRequested_ = true;
    return audio_->Drained();
}

// The recording is finished and the device released before the tuning is written, so a
// slow or failing settings file cannot keep the device.
void MainWindow::ShutDown() {
    closed_ = true;
    returnTimer_.stop();
    audio_->Close();
    if (tuning_.Changed())
        ShowFileError(tuning_.SaveTuning(settingsFile_));
}

void MainWindow::CloseForSignal() {
    closingForSignal_ = true;
    errorBoxes_->SendWaitingToStandardError();
    CloseOnSignal(*this);
}

// The recorder's thread reports its failures here too; the box opens on this one.
void MainWindow::ShowError(const std::string& message) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, message] { ShowError(message); });
        return;
    }
    if (closingForSignal_) {
        std::cerr << "morvane: " << message << '\n';
        return;
    }
    showError_(message);
}

void MainWindow::ShowFileError(const Status& status) {
    if (!status)
        ShowError(status.error().message);
}

// A mouse click, a function key and the start-up all select through the bank, which
// loads or, in save mode, saves the slot whenever one becomes selected.
void MainWindow::SetPresetSelection(int slot) {
    const Status error = presets_->SelectSlot(slot);
    ShowPresetMode();
    ShowFileError(error);
    SendPresets();
}

// The player loads a program change's preset itself, at the sample the message applies
// at; the panel follows a moment later from the file. So the player gets the presets
// afresh whenever the panel has read or written them. An unreadable file has been reported
// by the load or save that came before; the player keeps what it had.
void MainWindow::SendPresets() {
    if (!player_)
        return;
    Result<std::array<PresetValues, kPresetSlotCount>> presets = presets_->ReadAll();
    if (!presets)
        return;
    for (int slot = 0; slot < kPresetSlotCount; ++slot)
        SendEvent(Command{StorePreset{slot, (*presets)[slot]}});
}

// How velocity and the bend wheel play belongs to the player, not to the presets: the
// settings file's values, or the defaults when it cannot be read (as reported already).
void MainWindow::SendPlaying() {
    const Result<MidiSettings> midi = LoadMidiSettings(settingsFile_);
    const MidiSettings settings = midi ? *midi : MidiSettings{};
    for (const PlayingControl control : kPlayingControls)
        SendEvent(Command{SetPlaying{control, ReadPlaying(settings.playing, control)}});
}

// The sound parameters get their values only from a preset load: when the settings file
// cannot be read, the fresh installation's sound stands in, so that the panel is drawn and
// the engine never renders from values no control has set.
void MainWindow::LoadFirstPreset() {
    const Status loaded = presets_->SelectSlot(0);
    if (!loaded)
        LoadPreset(controls_, DefaultPresetValues());
    ShowPresetMode();
    ShowFileError(loaded);
}

void MainWindow::ButtonPresetSaveClick() {
    presets_->ButtonPresetSaveClick();
    ShowPresetMode();
}

void MainWindow::ShowPresetMode() {
    panel_->ShowPresetMode(presets_->PresetGroupCaption(), presets_->SaveButtonCaption(),
                           presets_->SelectedSlot());
}

void MainWindow::SetTuning(int value) {
    tuning_.SetTuning(value);
    ShowTuning();
}

void MainWindow::ShowTuning() {
    panel_->ShowTuning(tuning_.Label());
}

Status MainWindow::SaveSettings() {
    if (Status saved = tuning_.SaveTuning(settingsFile_); !saved)
        return saved;
    return SaveControllerBindings(settingsFile_, bindings_);
}

void MainWindow::UpDownTuningClick(bool up) {
    if (up)
        tuning_.ClickUp();
    else
        tuning_.ClickDown();
    ShowTuning();
}

void MainWindow::btnTuningResetClick() {
    tuning_.btnTuningResetClick();
    ShowTuning();
}

// The recording ends with the last block rendered before the click.
void MainWindow::btnRecordClick() {
    if (audio_->Recording())
        audio_->StopRecording();
    else
        ShowFileError(audio_->StartRecording());
}

void MainWindow::ShowRecording(bool recording) {
    btnRecord->setIcon(recording ? StopGlyph() : RecordGlyph());
    btnRecord->setText(Text(recording ? kStopCaption : kRecordCaption));
}

} // namespace morvane
