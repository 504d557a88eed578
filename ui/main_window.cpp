#include "ui/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QThread>
#include <QToolButton>

#include <initializer_list>
#include <iostream>
#include <utility>

#include "audio/realtime_scheduling.h"
#include "engine/startup.h"
#include "settings/midi_bindings_file.h"
#include "ui/about_box.h"
#include "ui/caption_font.h"
#include "ui/error_boxes.h"
#include "ui/glyphs.h"
#include "ui/mixer.h"
#include "ui/panel_widgets.h"
#include "ui/signal_close.h"

namespace morvane {

namespace {

constexpr int kClientWidth = 522;
constexpr int kPanelWidth = 521;
constexpr int kPanelHeight = 321;
constexpr int kSliderHeight = 9;
constexpr int kCheckBoxHeight = 17;
constexpr int kLabelHeight = 14;

const char* const kWindowCaption = "Morvane";
const char* const kErrorCaption = QT_TRANSLATE_NOOP("morvane::MainWindow", "エラー");
const char* const kRecordCaption = QT_TRANSLATE_NOOP("morvane::MainWindow", "録音");
const char* const kStopCaption = QT_TRANSLATE_NOOP("morvane::MainWindow", "中止");
const char* const kLearnCaption = QT_TRANSLATE_NOOP("morvane::MainWindow", "MIDI学習");
const char* const kForgetCaption = QT_TRANSLATE_NOOP("morvane::MainWindow", "MIDI学習を解除");

// How often the low-latency mode brings back key colours and passes on the panel's
// sound: a quarter of a block, well below what an eye or an ear notices.
constexpr int kReturnIntervalMs = 5;
// How often a lost device is tried again.
constexpr std::chrono::seconds kReopenInterval{1};
// A device that has not played out what it had by then is stuck: the window closes anyway.
constexpr std::chrono::seconds kLongestDrain{1};
// How often an open About box shows the audio path's figures anew.
constexpr std::chrono::milliseconds kHealthInterval{500};

// The groups are small for a 12-pixel Japanese font: the frame's top line runs through
// the middle of the title, so the title costs no row of its own and the first row of
// controls clears the frame. Tight indicator spacing keeps the eight preset items and
// the radio captions within their columns. A style sheet stops the window's font from
// reaching the widgets it styles, so it names the font again.
QString PanelStyle() {
    return QString(R"(
QWidget {
    font-family: "%1";
    font-size: %2px;
}
QGroupBox {
    border: 1px solid palette(mid);
    border-radius: 2px;
    margin-top: 7px;
}
QGroupBox::title {
    subcontrol-origin: margin;
    subcontrol-position: top left;
    left: 6px;
    padding: 0px 2px;
    background-color: palette(button);
}
QRadioButton, QCheckBox {
    spacing: 3px;
}
)")
        .arg(kCaptionFontFamily)
        .arg(kCaptionFontPixels);
}

struct Rect {
    int left, top, width, height;
};

// One slider row of a group: its caption (if any), the value label and the bar.
struct SliderRow {
    ControlId id;
    int top;
    const char* caption;   // nullptr: the row has no caption label
    const char* labelName; // the value label's name
    int labelTop = -1;     // -1: the row's top
};

struct SliderGroup {
    const char* name;
    const char* caption;
    Rect rect;
    int captionLeft;
    int valueLeft;
    int sliderLeft;
    int sliderWidth;
    std::initializer_list<SliderRow> rows;
};

const SliderGroup kSliderGroups[] = {
    {"VcoGroup",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "VCO設定"),
     {8, 168, 153, 105},
     8,
     40,
     64,
     81,
     {{Wave1Vol, 16, QT_TRANSLATE_NOOP("morvane::MainWindow", "音量1"), "LabelVol1"},
      {Wave2Vol, 32, QT_TRANSLATE_NOOP("morvane::MainWindow", "音量2"), "LabelVol2"},
      {Wave1Width, 48, QT_TRANSLATE_NOOP("morvane::MainWindow", "幅1"), "LabelWidth1"},
      {Wave2Width, 64, QT_TRANSLATE_NOOP("morvane::MainWindow", "幅2"), "LabelWidth2"}}},
    {"ModulationGroup",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "モジュレーション"),
     {168, 8, 153, 89},
     8,
     8,
     48,
     97,
     {{ModDepth, 16, nullptr, "LabelModDepth"}, {ModFreq, 32, nullptr, "LabelModFreq"}}},
    {"NoiseGroup",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "ノイズ"),
     {168, 104, 153, 33},
     8,
     8,
     48,
     97,
     {{NoiseVol, 16, nullptr, "LabelNoise"}}},
    {"EchoGroup",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "エコー"),
     {168, 144, 153, 49},
     8,
     8,
     48,
     97,
     {{EchoDepth, 16, nullptr, "LabelEchoDepth"}, {EchoTime, 32, nullptr, "LabelEchoTime"}}},
    {"DistortionGroup",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "ディストーション"),
     {168, 200, 153, 49},
     9,
     39,
     64,
     81,
     {{DistortionLevel, 16, QT_TRANSLATE_NOOP("morvane::MainWindow", "効果"), "LabelDistortion",
       13},
      {DistortionVolume, 32, QT_TRANSLATE_NOOP("morvane::MainWindow", "音量"), "LabelDistVol",
       29}}},
    {"VcaEnvelopeGroup",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "VCAエンベロープ"),
     {328, 8, 185, 81},
     8,
     56,
     80,
     97,
     {{EnvAttack, 16, QT_TRANSLATE_NOOP("morvane::MainWindow", "ｱﾀｯｸ"), "LabelAttack"},
      {EnvDecay, 32, QT_TRANSLATE_NOOP("morvane::MainWindow", "ﾃﾞｨｹｲ"), "LabelDecay"},
      {EnvSustain, 48, QT_TRANSLATE_NOOP("morvane::MainWindow", "ｻｽﾃｨﾝ"), "LabelSustain"},
      {EnvRelease, 64, QT_TRANSLATE_NOOP("morvane::MainWindow", "ﾘﾘｰｽ"), "LabelRelease"}}},
    {"VcfEnvelopeGroup",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "VCFエンベロープ"),
     {328, 96, 185, 105},
     8,
     56,
     80,
     97,
     {{EnvVcfAttack, 16, QT_TRANSLATE_NOOP("morvane::MainWindow", "ｱﾀｯｸ"), "LabelVcfAttack"},
      {EnvVcfDecay, 32, QT_TRANSLATE_NOOP("morvane::MainWindow", "ﾃﾞｨｹｲ"), "LabelVcfDecay"},
      {EnvVcfSustain, 48, QT_TRANSLATE_NOOP("morvane::MainWindow", "ｻｽﾃｨﾝ"), "LabelVcfSustain"},
      {EnvVcfRelease, 64, QT_TRANSLATE_NOOP("morvane::MainWindow", "ﾘﾘｰｽ"), "LabelVcfRelease"}}},
    {"VcfGroup",
     "VCF",
     {328, 208, 185, 65},
     8,
     56,
     80,
     97,
     {{VcfCutoff, 16, QT_TRANSLATE_NOOP("morvane::MainWindow", "ｶｯﾄｵﾌ"), "LabelCutOff"},
      {VcfIntensity, 32, QT_TRANSLATE_NOOP("morvane::MainWindow", "ｲﾝﾃﾝｼﾃｨ"), "LabelIntensity"},
      {VcfResonance, 48, QT_TRANSLATE_NOOP("morvane::MainWindow", "ﾚｿﾞﾅﾝｽ"), "LabelResonance"}}},
};

struct RadioGroupLayout {
    ControlId id;
    const char* caption;
    Rect rect;
    bool octave;
};

const RadioGroupLayout kRadioGroups[] = {
    {Wave1Type, QT_TRANSLATE_NOOP("morvane::MainWindow", "波形1"), {8, 8, 73, 81}, false},
    {Wave2Type, QT_TRANSLATE_NOOP("morvane::MainWindow", "波形2"), {88, 8, 73, 81}, false},
    {Wave1Octave, QT_TRANSLATE_NOOP("morvane::MainWindow", "ｵｸﾀｰﾌﾞ1"), {8, 96, 73, 65}, true},
    {Wave2Octave, QT_TRANSLATE_NOOP("morvane::MainWindow", "ｵｸﾀｰﾌﾞ2"), {88, 96, 73, 65}, true},
};

struct CheckBoxLayout {
    ControlId id;
    const char* group;
    const char* caption;
    Rect rect;
};

const CheckBoxLayout kCheckBoxes[] = {
    {Wave2Detune,
     "VcoGroup",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "コーラス効果"),
     {8, 80, 137, kCheckBoxHeight}},
    {ModOn,
     "ModulationGroup",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "常にON"),
     {8, 64, 137, kCheckBoxHeight}},
    {UseVcfEnvelope,
     "VcfEnvelopeGroup",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "VCFエンベロープを使用する"),
     {8, 80, 169, kCheckBoxHeight}},
};

// The LFO shape pair in the modulation group; index = the ModType position.
struct ModTypeButtonLayout {
    const char* name;
    const char* caption;
    Rect rect;
};

const ModTypeButtonLayout kModTypeButtons[] = {
    {"RadioButtonModType0",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "三角波"),
     {8, 48, 64, kCheckBoxHeight}},
    {"RadioButtonModType1",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "矩形波"),
     {72, 48, 64, kCheckBoxHeight}},
};
constexpr const char* kModTypeGroup = "ModulationGroup";

// The tuning group, its parts placed inside it.
const struct {
    Rect group, label, upDown, reset;
} kTuningGroup = {
    {8, 280, 153, 33}, {16, 14, 33, kLabelHeight}, {57, 12, 32, 16}, {92, 12, 53, 17}};

const Rect kPresetGroupRect = {168, 280, 281, 33};
const Rect kPresetSaveRect = {456, 288, 57, 25};

// The flat buttons below the panel, on the window itself.
struct FlatButtonLayout {
    const char* name;
    const char* caption;
    Rect rect;
};

const FlatButtonLayout kOutputButton = {
    "btnOutput", QT_TRANSLATE_NOOP("morvane::MainWindow", "音量"), {456, 328, 57, 25}};
const FlatButtonLayout kRecordButton = {"btnRecord", kRecordCaption, {456, 352, 57, 25}};
const FlatButtonLayout kAboutButton = {"btnAbout", "About", {456, 376, 57, 25}};
const FlatButtonLayout kExitButton = {
    "btnExit", QT_TRANSLATE_NOOP("morvane::MainWindow", "終了"), {456, 400, 57, 25}};

// The window's texts are Japanese in the source; the installed translation, if any,
// replaces them. Texts kept in tables are marked for the translator where they are written.
QString Text(const char* utf8) {
    return QCoreApplication::translate("morvane::MainWindow", utf8);
}

void Place(QWidget* widget, const Rect& r) {
    widget->setGeometry(r.left, r.top, r.width, r.height);
}

QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top, int width) {
    auto* label = new QLabel(Text(text), parent);
    label->setGeometry(left, top, width, kLabelHeight);
    return label;
}

QToolButton* MakeFlatButton(QWidget* parent, const FlatButtonLayout& layout) {
    auto* button = new QToolButton(parent);
    button->setObjectName(layout.name);
    button->setText(Text(layout.caption));
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setIconSize(QSize(kGlyphSize, kGlyphSize));
    Place(button, layout.rect);
    return button;
}

struct SliderRowWidgets {
    QLabel* value;
    QScrollBar* bar;
};

// A row's caption, value label and bar, placed by its group's columns.
SliderRowWidgets MakeSliderRow(QGroupBox* group, const SliderGroup& layout, const SliderRow& row) {
    const int labelTop = row.labelTop < 0 ? row.top : row.labelTop;
    if (row.caption)
        MakeLabel(group, row.caption, layout.captionLeft, labelTop,
                  layout.valueLeft - layout.captionLeft);
    QLabel* value =
        MakeLabel(group, "", layout.valueLeft, labelTop, layout.sliderLeft - layout.valueLeft);
    value->setObjectName(row.labelName);

    const ControlDescription& d = Describe(row.id);
    auto* bar = new QScrollBar(Qt::Horizontal, group);
    bar->setObjectName(d.control);
    bar->setGeometry(layout.sliderLeft, row.top, layout.sliderWidth, kSliderHeight);
    bar->setRange(d.minimum, d.maximum);
    bar->setValue(d.startPosition);
    // Arrows and trough clicks both move by one position.
    bar->setSingleStep(1);
    bar->setPageStep(1);
    bar->setFocusPolicy(Qt::StrongFocus);
    return {value, bar};
}

// The preset group is plain C++ and hands its captions to the window, which translates
// them; they are named here so that the translator sees them.
[[maybe_unused]] const char* const kPresetGroupCaptions[] = {
    QT_TRANSLATE_NOOP("morvane::MainWindow", "音色保存"),
    QT_TRANSLATE_NOOP("morvane::MainWindow", "キャンセル"),
    QT_TRANSLATE_NOOP("morvane::MainWindow", "音色プリセット"),
    QT_TRANSLATE_NOOP("morvane::MainWindow", "保存先を選択してください"),
};

// The file messages of the settings file and the recorder, made without Qt, as patterns
// around the path they name: each is shown in the window's language with its path kept.
struct FileMessage {
    const char* pattern;
    const char* text; // %1 is the path
};
const FileMessage kFileMessages[] = {
    {"^ファイル (.+) は開けません\\.$",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "ファイル %1 は開けません.")},
    {"^ファイル (.+) を作成できません\\.$",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "ファイル %1 を作成できません.")},
    {"^ファイル (.+) を作成できません。$",
     QT_TRANSLATE_NOOP("morvane::MainWindow", "ファイル %1 を作成できません。")},
    {"^ファイル (.+) に書き込めないため、録音を中止しました。$",
     QT_TRANSLATE_NOOP("morvane::MainWindow",
                       "ファイル %1 に書き込めないため、録音を中止しました。")},
};

QString TranslatedMessage(const std::string& message) {
    const QString text = QString::fromStdString(message);
    for (const FileMessage& known : kFileMessages) {
        const QRegularExpressionMatch match =
            QRegularExpression(QString::fromUtf8(known.pattern)).match(text);
        if (match.hasMatch())
            return Text(known.text).arg(match.captured(1));
    }
    return text; // the device's messages are English already
}

} // namespace

MainWindow::MainWindow(MainWindowSetup setup, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      state_(std::make_unique<SynthState>()), controls_(*state_), tuning_(*state_),
      device_(std::move(setup.device)), settingsFile_(std::move(setup.settingsFile)),
      recordingDirectory_(std::move(setup.recordingDirectory)),
      showError_(std::move(setup.showError)), lowLatency_(setup.lowLatency),
      midiChannel_(setup.midiChannel), openSequencer_(setup.openSequencer) {
    errorBoxes_ = new ErrorBoxes(this);
    if (!showError_)
        showError_ = [this](const std::string& message) {
            errorBoxes_->Show(Text(kErrorCaption), TranslatedMessage(message));
        };
    // A close that raised a box (the tuning not saved) ends once it is answered.
    connect(errorBoxes_, &ErrorBoxes::AllAnswered, this, [this] {
        if (closed_)
            close();
    });
    BlockSource& source = *this;
    ErrorReporter& errors = *this;
    WaveOutOwner& owner = *this;
    if (!lowLatency_)
        waveOut_ = std::make_unique<WaveOut>(*device_, source, errors, owner);
    recorder_ = std::make_unique<WavRecorder>(recordingDirectory_.string(), errors);
    // The classic ring hands its blocks to the recorder itself; in low-latency mode a
    // thread of its own writes them, and may stop the recording from there.
    recorder_->SetRecordingListener([this](bool recording) {
        QMetaObject::invokeMethod(this, [this, recording] { ShowRecording(recording); });
    });
    if (waveOut_)
        waveOut_->SetRecorder(recorder_.get());
    returnTimer_.setTimerType(Qt::PreciseTimer);
    connect(&returnTimer_, &QTimer::timeout, this, &MainWindow::CheckLowLatencyOutput);
    presets_ = std::make_unique<PresetGroup>(controls_, settingsFile_);

    setFont(CaptionFont());
    BuildPanel();
    controls_.SetListener(this);
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
    FrontPanel = new QFrame(this);
    FrontPanel->setObjectName("FrontPanel");
    FrontPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    FrontPanel->setGeometry(0, 0, kPanelWidth, kPanelHeight);
    FrontPanel->setStyleSheet(PanelStyle());
    BuildSoundGroups();
    BuildTuningGroup();
    BuildPresetGroup();
    BuildFlatButtons();
}

void MainWindow::BuildSoundGroups() {
    BuildRadioGroups();
    BuildSliderGroups();
    BuildCheckBoxes();
    BuildModTypePair();
}

void MainWindow::BuildRadioGroups() {
    const QStringList waves{"OFF", tr("ﾉｺｷﾞﾘ波"), tr("矩形波"), tr("三角波")};
    const QStringList octaves{"HIGH", "MID", "LOW"};
    for (const RadioGroupLayout& layout : kRadioGroups) {
        auto* group =
            new TRadioGroup(Text(layout.caption), layout.octave ? octaves : waves, 1, FrontPanel);
        group->setObjectName(Describe(layout.id).control);
        Place(group, layout.rect);
        connect(group, &TRadioGroup::ItemClicked, this,
                [this, id = layout.id](int index) { controls_.Set(id, index); });
        controlWidgets_[layout.id] = group;
    }
}

void MainWindow::BuildSliderGroups() {
    for (const SliderGroup& layout : kSliderGroups) {
        auto* group = new QGroupBox(Text(layout.caption), FrontPanel);
        group->setObjectName(layout.name);
        Place(group, layout.rect);
        for (const SliderRow& row : layout.rows) {
            const auto [value, bar] = MakeSliderRow(group, layout, row);
            valueLabels_[row.id] = value;
            controlWidgets_[row.id] = bar;
            connect(bar, &QScrollBar::valueChanged, this,
                    [this, id = row.id](int position) { controls_.Set(id, position); });
            bar->setContextMenuPolicy(Qt::CustomContextMenu);
            connect(bar, &QScrollBar::customContextMenuRequested, this,
                    [this, bar, id = row.id](const QPoint& at) {
                        std::unique_ptr<QMenu> menu(MidiLearnMenu(id));
                        menu->exec(bar->mapToGlobal(at));
                    });
        }
    }
}

void MainWindow::BuildCheckBoxes() {
    for (const CheckBoxLayout& layout : kCheckBoxes) {
        auto* box =
            new QCheckBox(Text(layout.caption), FrontPanel->findChild<QGroupBox*>(layout.group));
        box->setObjectName(Describe(layout.id).control);
        Place(box, layout.rect);
        connect(box, &QCheckBox::toggled, this,
                [this, id = layout.id](bool checked) { controls_.Set(id, checked ? 1 : 0); });
        controlWidgets_[layout.id] = box;
    }
}

// The LFO shape pair: checking one runs its handler, which unchecks the other.
void MainWindow::BuildModTypePair() {
    auto* modulation = FrontPanel->findChild<QGroupBox*>(kModTypeGroup);
    for (int shape = 0; shape < int(std::size(kModTypeButtons)); ++shape) {
        const ModTypeButtonLayout& layout = kModTypeButtons[shape];
        auto* button = new QRadioButton(Text(layout.caption), modulation);
        button->setObjectName(layout.name);
        Place(button, layout.rect);
        connect(button, &QRadioButton::toggled, this, [this, shape](bool checked) {
            if (checked)
                controls_.Set(ModType, shape);
        });
        modTypeButtons_[shape] = button;
    }
}

void MainWindow::BuildTuningGroup() {
    TuningGroup = new QGroupBox(tr("チューニング"), FrontPanel);
    TuningGroup->setObjectName("TuningGroup");
    Place(TuningGroup, kTuningGroup.group);
    LabelTuning = new QLabel(TuningGroup);
    LabelTuning->setObjectName("LabelTuning");
    Place(LabelTuning, kTuningGroup.label);
    LabelTuning->setAlignment(Qt::AlignCenter);
    UpDownTuning = new TUpDown(TuningGroup);
    UpDownTuning->setObjectName("UpDownTuning");
    Place(UpDownTuning, kTuningGroup.upDown);
    btnTuningReset = new QPushButton(tr("リセット"), TuningGroup);
    btnTuningReset->setObjectName("btnTuningReset");
    Place(btnTuningReset, kTuningGroup.reset);
    btnTuningReset->setAutoDefault(false);
    connect(UpDownTuning, &TUpDown::Clicked, this, &MainWindow::UpDownTuningClick);
    connect(btnTuningReset, &QPushButton::clicked, this, &MainWindow::btnTuningResetClick);
}

void MainWindow::BuildPresetGroup() {
    QStringList items;
    for (int slot = 0; slot < kPresetSlotCount; ++slot)
        items << QString("F%1").arg(slot + 1);
    RadioPreset = new TRadioGroup(QString(), items, kPresetSlotCount, FrontPanel);
    RadioPreset->setObjectName("RadioPreset");
    Place(RadioPreset, kPresetGroupRect);
    connect(RadioPreset, &TRadioGroup::ItemClicked, this, &MainWindow::SetPresetSelection);
    ButtonPresetSave = MakeFlatButton(FrontPanel, {"ButtonPresetSave", "", kPresetSaveRect});
    connect(ButtonPresetSave, &QToolButton::clicked, this, &MainWindow::ButtonPresetSaveClick);
    ShowPresetMode();
}

void MainWindow::BuildFlatButtons() {
    btnOutput = MakeFlatButton(this, kOutputButton);
    btnOutput->setIcon(LoudspeakerGlyph());
    btnRecord = MakeFlatButton(this, kRecordButton);
    btnAbout = MakeFlatButton(this, kAboutButton);
    btnExit = MakeFlatButton(this, kExitButton);
    connect(btnOutput, &QToolButton::clicked, this, [] { LaunchMixer(); });
    connect(btnRecord, &QToolButton::clicked, this, &MainWindow::btnRecordClick);
    connect(btnAbout, &QToolButton::clicked, this, [this] {
        ShowHealth();
        AboutBox->ShowInFront();
    });
    connect(btnExit, &QToolButton::clicked, this, &MainWindow::close);
}

// The start-up order matters: the tables before the tuning, the key buttons before the
// first preset, and the sweep only once the device plays.
void MainWindow::Start() {
    btnRecord->setIcon(RecordGlyph());
    setWindowTitle(kWindowCaption);
    setWindowIcon(ProgramIcon());
    // An unreadable settings file is reported and the program plays at A = 440.0 Hz;
    // the file is left alone at exit unless the user touches the tuning.
    state_->Tuning = kDefaultTuning;
    ShowFileError(tuning_.LoadTuning(settingsFile_));
    StartEngine(*state_, controls_, state_->Tuning);
    SetTuning(state_->Tuning);

    keyButtons_ = std::make_unique<TKeyButtons>(this, kPanelHeight);
    input_ = std::make_unique<KeyboardInput>(
        this, [this](const InputEvent& event) { SendInput(event); }, *keyButtons_,
        [this](int slot) { SetPresetSelection(slot); });
    FrontPanel->raise();
    setFixedSize(kClientWidth, keyButtons_->LowerRowTop() + kRowHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    AboutBox = new TAboutBox(this);
    AboutBox->ShowFileLocations(settingsFile_, recordingDirectory_);

    LoadFirstPreset();
    LoadBindings();
    const bool playing = OpenAudio();
    if (openSequencer_ && (!output_ || !output_->TakesMidi()))
        OpenSequencer();
    if (playing)
        input_->StartSweep();
}

// The player starts from the first preset's sound. True when the device plays: only
// then does the stuck-key sweep start. Without a device the player still takes every
// input on this thread, so that the keys light up as they always have.
bool MainWindow::OpenAudio() {
    std::optional<Error> notOpened;
    if (lowLatency_) {
        Result<std::unique_ptr<RealtimeOutput>> opened = RealtimeOutput::Open(*lowLatency_);
        if (opened)
            output_ = std::move(*opened);
        else
            notOpened = opened.error();
    }
    if (!CreatePlayer(output_ ? output_->SampleRate() : kSampleRate)) {
        output_.reset();
        return false;
    }
    if (output_) {
        StartOutput();
        return true;
    }
    if (lowLatency_) {
        // A user who starts the program before the sound server gets sound when it comes:
        // the device is tried again as a lost one is, while the program goes on.
        outputLost_ = true;
        nextReopen_ = std::chrono::steady_clock::now() + kReopenInterval;
        returnTimer_.start(kReturnIntervalMs);
        ShowError(
            WithReason(kOpenError, *notOpened) + "\n" +
            tr("サウンドサーバーを起動してください。起動すると Morvane は自動的に接続します。")
                .toStdString());
        return false;
    }
    return waveOut_ && waveOut_->OpenOutput();
}

bool MainWindow::CreatePlayer(int deviceRate) {
    Result<std::unique_ptr<RealtimePlayer>> player =
        RealtimePlayer::Create(*state_, RealtimePlayer::Pace::Live, deviceRate);
    if (!player) {
        ShowError(WithReason(kOpenError, player.error()));
        return false;
    }
    player_ = std::move(*player);
    // The channel was checked with the command line.
    static_cast<void>(player_->ListenToMidi(midiChannel_, bindings_));
    SendPresets();
    sentSound_ = *state_;
    return true;
}

// The callback only ever touches the player and its state: kept in memory, where the
// system allows, they never wait for a page to come back from swap.
void MainWindow::StartOutput() {
    LockInMemory(player_.get(), sizeof(RealtimePlayer));
    LockInMemory(&player_->State(), sizeof(SynthState));
    if (!recorderThread_)
        recorderThread_ = std::make_unique<RecorderThread>(*player_, *recorder_);
    growth_.Restart(std::chrono::steady_clock::now());
    output_->Attach(*player_);
    if (!returnTimer_.isActive())
        returnTimer_.start(kReturnIntervalMs);
    if (!input_->SweepRunning())
        input_->StartSweep();
}

// With the classic ring (or no device) this thread renders too, so the event is applied
// at once, as the handlers always did; the callback takes it at its next block.
void MainWindow::SendInput(const InputEvent& event) {
    SendEvent(RealtimePlayer::Event::Of(event));
}

void MainWindow::SendEvent(const RealtimePlayer::Event& event) {
    if (!player_)
        return;
    SyncSound();
    if (player_->SendOrKeep(event) && !std::exchange(waitingTold_, true))
        std::cerr << "morvane: input came faster than the sound takes it; it is played a "
                     "moment late, and none of it is lost\n";
    if (!output_) {
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
// to the player on the sequencer's thread; while this thread renders or takes the input
// itself (the classic ring, or no device), the timer hands them on.
void MainWindow::OpenSequencer() {
    Result<std::unique_ptr<SequencerInput>> opened = SequencerInput::Open(*player_);
    if (!opened) {
        std::cerr << "morvane: " << opened.error().message << '\n';
        return;
    }
    sequencer_ = std::move(*opened);
    connect(&sequencerTimer_, &QTimer::timeout, this, &MainWindow::TakeSequencerMidi);
    sequencerTimer_.start(kReturnIntervalMs);
}

void MainWindow::TakeSequencerMidi() {
    if (output_ || closed_)
        return;
    ApplyHere();
    DrainReturnQueues();
}

QMenu* MainWindow::MidiLearnMenu(ControlId id) {
    auto* menu = new QMenu(this);
    connect(menu->addAction(Text(kLearnCaption)), &QAction::triggered, this,
            [this, id] { SendEvent(RealtimePlayer::Event::Learn(id)); });
    QAction* forget = menu->addAction(Text(kForgetCaption));
    forget->setEnabled(bindings_.ControllerFor(id).has_value());
    connect(forget, &QAction::triggered, this, [this, id] {
        bindings_.Unbind(id);
        SendEvent(RealtimePlayer::Event::Forget(id));
        SaveBindings();
    });
    return menu;
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
// follows), a function key pressed, a learnt binding kept at once.
void MainWindow::ApplyPanelAction(const RealtimePlayer::PanelAction& action) {
    using Kind = RealtimePlayer::PanelAction::Kind;
    switch (action.kind) {
    case Kind::SetControl:
        static_cast<QScrollBar*>(controlWidgets_[action.control])->setValue(action.value);
        break;
    case Kind::LoadPreset: {
        const Status loaded = presets_->LoadSlot(action.value);
        ShowPresetMode();
        ShowFileError(loaded);
        SendPresets();
        break;
    }
    case Kind::ControllerLearnt:
        if (bindings_.Bind(action.value, action.control))
            SaveBindings();
        break;
    }
    SyncSound();
}

// The whole sound goes over as one value whenever it differs from what the player has:
// before every key, before every block of the ring, and on the low-latency timer, so a
// preset load is never heard half done. It goes again once the panel has shown what MIDI
// did: the player drops a sound taken before that.
void MainWindow::SyncSound() {
    if (!player_ || (static_cast<const SoundParameters&>(*state_) == sentSound_ &&
                     panelActionsSeen_ == sentPanelActionsSeen_))
        return;
    // Behind whatever input waits, as it came after it.
    player_->SendOrKeep(RealtimePlayer::Event::Sound(*state_, panelActionsSeen_));
    sentSound_ = *state_;
    sentPanelActionsSeen_ = panelActionsSeen_;
    if (!output_)
        ApplyHere();
}

void MainWindow::DrainReturnQueues() {
    while (std::optional<KeyColourChanges> changes = player_->PopKeyColours())
        ShowKeyColours(*changes, *keyButtons_);
    while (std::optional<RealtimePlayer::PanelAction> action = player_->PopPanelAction()) {
        ++panelActionsSeen_;
        ApplyPanelAction(*action);
    }
}

void MainWindow::CheckLowLatencyOutput() {
    SyncSound();
    player_->SendWaiting();
    DrainReturnQueues();
    if (output_) {
        if (std::optional<Error> loss = output_->Loss())
            LoseOutput(*loss);
        else
            TendOutput();
    } else if (reopening_.valid()) {
        if (reopening_.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
            TakeReopened(reopening_.get());
    } else if (outputLost_ && std::chrono::steady_clock::now() >= nextReopen_) {
        TryReopen();
    }
    if (AboutBox->isVisible() && std::chrono::steady_clock::now() >= nextHealthShown_)
        ShowHealth();
    // A box the close raises keeps the window up until it is answered; the device is
    // released before.
    if (drainRequested_ &&
        (!output_ || output_->Heard() || std::chrono::steady_clock::now() >= drainDeadline_)) {
        returnTimer_.stop();
        close();
    }
}

// Told once. Until the device is back the player takes its input on this thread, as
// without a device; the callbacks have stopped, so the queue changes hands safely.
void MainWindow::LoseOutput(const Error& loss) {
    output_.reset();
    outputLost_ = true;
    nextReopen_ = std::chrono::steady_clock::now() + kReopenInterval;
    rateRefusalTold_ = false;
    ApplyHere();
    DrainReturnQueues();
    ShowError(WithReason(kWriteError, loss));
}

// Opening starts the audio library afresh, so that it sees the sound server as it is
// now; that takes a tenth of a second or more, once a second while the device is gone,
// so it runs beside this thread. Nothing else touches the audio library meanwhile: there
// is no output to tend.
void MainWindow::TryReopen() {
    nextReopen_ = std::chrono::steady_clock::now() + kReopenInterval;
    reopening_ = std::async(std::launch::async,
                            [options = *lowLatency_] { return RealtimeOutput::Open(options); });
}

void MainWindow::TakeReopened(Result<std::unique_ptr<RealtimeOutput>> opened) {
    if (!opened)
        return;
    // A server restarted at another rate is resampled for, as at start-up.
    if (Status rate = player_->UseDeviceRate((*opened)->SampleRate()); !rate) {
        if (!std::exchange(rateRefusalTold_, true))
            ShowError(WithReason(kOpenError, rate.error()));
        return;
    }
    output_ = std::move(*opened);
    outputLost_ = false;
    StartOutput();
}

// Real-time scheduling for the callback's thread once it runs, and a buffer that grows
// while underruns keep coming: in place where the server allows (PipeWire), else as a
// new output, a moment of silence once instead of a click every few seconds.
void MainWindow::TendOutput() {
    output_->Tend();
    const std::optional<double> grown = growth_.Observe(
        output_->Underruns(), output_->BufferSeconds(), std::chrono::steady_clock::now());
    if (!grown)
        return;
    if (output_->GrowInPlace(*grown)) {
        lowLatency_->bufferSeconds = *grown;
        return;
    }
    RealtimeOutputOptions options = *lowLatency_;
    options.api = output_->Api();
    options.bufferSeconds = *grown;
    output_.reset();
    Result<std::unique_ptr<RealtimeOutput>> opened = RealtimeOutput::Open(options);
    if (!opened || (*opened)->SampleRate() != player_->DeviceRate()) {
        outputLost_ = true;
        nextReopen_ = std::chrono::steady_clock::now() + kReopenInterval;
        player_->Apply();
        DrainReturnQueues();
        return;
    }
    lowLatency_->bufferSeconds = *grown;
    output_ = std::move(*opened);
    StartOutput();
}

void MainWindow::ShowHealth() {
    nextHealthShown_ = std::chrono::steady_clock::now() + kHealthInterval;
    std::optional<OutputHealth> health;
    if (output_)
        health = output_->Health();
    else if (device_)
        health = device_->Health();
    AboutBox->ShowOutputHealth(health, growth_.Grown());
}

// The title-bar close, Alt+F4 and the exit button all come here. The first request only
// starts the drain; the completion of the last buffer asks again and is granted.
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

// In low-latency mode the player stops rendering at once and the close is granted when
// the device has played what it had, or at once when it has nothing or is gone.
bool MainWindow::ReadyToClose() {
    if (waveOut_)
        return waveOut_->CloseQuery();
    if (!returnTimer_.isActive())
        return true;
    if (!drainRequested_)
        drainDeadline_ = std::chrono::steady_clock::now() + kLongestDrain;
    drainRequested_ = true;
    player_->Stop();
    return !output_ || output_->Heard();
}

// The recording is finished and the device released before the tuning is written, so a
// slow or failing settings file cannot keep the device.
void MainWindow::ShutDown() {
    closed_ = true;
    if (waveOut_) {
        waveOut_->Close();
    } else {
        returnTimer_.stop();
        // An open under way ends first; what it opened is let go unused.
        if (reopening_.valid())
            static_cast<void>(reopening_.get());
        output_.reset();
        if (recorderThread_)
            recorderThread_->Stop();
        recorderThread_.reset();
    }
    if (state_->TuningDirty)
        ShowFileError(tuning_.SaveTuning(settingsFile_));
}

void MainWindow::RequestClose() {
    close();
}

bool MainWindow::RenderInto(std::int16_t* block) {
    SyncSound();
    const bool rendered = player_->NextBlock(block);
    DrainReturnQueues();
    return rendered;
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

void MainWindow::PositionChanged(ControlId id, int position) {
    QWidget* widget = controlWidgets_[id];
    const QSignalBlocker blocker(widget);
    switch (Describe(id).kind) {
    case ControlKind::Slider:
        static_cast<QScrollBar*>(widget)->setValue(position);
        break;
    case ControlKind::RadioGroup:
        static_cast<TRadioGroup*>(widget)->SetItemIndex(position);
        break;
    case ControlKind::CheckBox:
        static_cast<QCheckBox*>(widget)->setChecked(position != 0);
        break;
    case ControlKind::ModType: {
        int shape = 0;
        for (QRadioButton* button : modTypeButtons_) {
            // An auto-exclusive button refuses to be unchecked, which "none" needs.
            const QSignalBlocker buttonBlocker(button);
            button->setAutoExclusive(false);
            button->setChecked(position == shape++);
            button->setAutoExclusive(true);
        }
        break;
    }
    }
}

void MainWindow::LabelChanged(ControlId id, const std::string& text) {
    QLabel* label = valueLabels_[id];
    if (!label)
        return;
    const QString shown = QString::fromStdString(text);
    label->setText(shown);
    // Values stand right-aligned against their sliders, clear of the row's caption. A
    // text wider than the room (a cutoff of 10.3k) starts at the label's left instead,
    // so that the slider hides its end and not its leading digits.
    // Measured in the window's font: the label takes it only once it is polished.
    const bool fits = QFontMetrics(font()).horizontalAdvance(shown) <= label->width();
    label->setAlignment((fits ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
}

// A mouse click, a function key and the start-up all select through the bank, which
// loads or, in save mode, saves the slot whenever one becomes selected.
void MainWindow::SetPresetSelection(int slot) {
    const Status error = presets_->SelectSlot(slot);
    ShowPresetMode();
    ShowFileError(error);
    SendPresets();
}

// The player loads a program change's preset itself, at the block boundary the message
// reaches; the panel follows a moment later from the file. So the player gets the presets
// afresh whenever the panel has read or written them. An unreadable file has been reported
// by the load or save that came before; the player keeps what it had.
void MainWindow::SendPresets() {
    if (!player_)
        return;
    Result<std::array<PresetValues, kPresetSlotCount>> presets = presets_->ReadAll();
    if (!presets)
        return;
    for (int slot = 0; slot < kPresetSlotCount; ++slot)
        SendEvent(RealtimePlayer::Event::Preset(slot, (*presets)[slot]));
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
    RadioPreset->setTitle(Text(presets_->PresetGroupCaption()));
    ButtonPresetSave->setText(Text(presets_->SaveButtonCaption()));
    RadioPreset->SetItemIndex(presets_->SelectedSlot());
}

void MainWindow::SetTuning(int value) {
    tuning_.SetTuning(value);
    ShowTuning();
}

void MainWindow::ShowTuning() {
    LabelTuning->setText(QString::fromStdString(tuning_.Label()));
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
    if (Recording()) {
        if (recorderThread_)
            recorderThread_->Stop();
        else
            recorder_->StopRecording();
    } else if (Status ready = ReadyToRecord(); !ready) {
        ShowError(ready.error().message);
    } else {
        ShowFileError(recorderThread_ ? recorderThread_->Start() : recorder_->StartRecording());
    }
}

bool MainWindow::Recording() {
    return recorderThread_ ? recorderThread_->Recording() : recorder_->Recording();
}

Status MainWindow::ReadyToRecord() const {
    if (waveOut_)
        return waveOut_->ReadyToRecord();
    if (output_ && !output_->Loss())
        return {};
    return Error{kNoDeviceToRecord};
}

void MainWindow::ShowRecording(bool recording) {
    btnRecord->setIcon(recording ? StopGlyph() : RecordGlyph());
    btnRecord->setText(Text(recording ? kStopCaption : kRecordCaption));
}

} // namespace morvane
