#include "ui/front_panel.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRect>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QToolButton>

#include <initializer_list>

#include "engine/startup.h"
#include "ui/caption_font.h"
#include "ui/panel_widgets.h"

namespace morvane {

namespace {

constexpr int kSliderHeight = 9;
constexpr int kCheckBoxHeight = 17;
constexpr int kLabelHeight = 14;

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
    QRect rect;
    int captionLeft;
    int valueLeft;
    int sliderLeft;
    int sliderWidth;
    std::initializer_list<SliderRow> rows;
};

const SliderGroup kSliderGroups[] = {
    {"VcoGroup",
     QT_TRANSLATE_NOOP("morvane::FrontPanel", "VCO設定"),
     {8, 168, 153, 105},
     8,
     40,
     64,
     81,
     {{Wave1Vol, 16, QT_TRANSLATE_NOOP("morvane::FrontPanel", "音量1"), "LabelVol1"},
      {Wave2Vol, 32, QT_TRANSLATE_NOOP("morvane::FrontPanel", "音量2"), "LabelVol2"},
      {Wave1Width, 48, QT_TRANSLATE_NOOP("morvane::FrontPanel", "幅1"), "LabelWidth1"},
      {Wave2Width, 64, QT_TRANSLATE_NOOP("morvane::FrontPanel", "幅2"), "LabelWidth2"}}},
    {"ModulationGroup",
     QT_TRANSLATE_NOOP("morvane::FrontPanel", "モジュレーション"),
     {168, 8, 153, 89},
     8,
     8,
     48,
     97,
     {{ModDepth, 16, nullptr, "LabelModDepth"}, {ModFreq, 32, nullptr, "LabelModFreq"}}},
    {"NoiseGroup",
     QT_TRANSLATE_NOOP("morvane::FrontPanel", "ノイズ"),
     {168, 104, 153, 33},
     8,
     8,
     48,
     97,
     {{NoiseVol, 16, nullptr, "LabelNoise"}}},
    {"EchoGroup",
     QT_TRANSLATE_NOOP("morvane::FrontPanel", "エコー"),
     {168, 144, 153, 49},
     8,
     8,
     48,
     97,
     {{EchoDepth, 16, nullptr, "LabelEchoDepth"}, {EchoTime, 32, nullptr, "LabelEchoTime"}}},
    {"DistortionGroup",
     QT_TRANSLATE_NOOP("morvane::FrontPanel", "ディストーション"),
     {168, 200, 153, 49},
     9,
     39,
     64,
     81,
     {{DistortionLevel, 16, QT_TRANSLATE_NOOP("morvane::FrontPanel", "効果"), "LabelDistortion",
       13},
      {DistortionVolume, 32, QT_TRANSLATE_NOOP("morvane::FrontPanel", "音量"), "LabelDistVol",
       29}}},
    {"VcaEnvelopeGroup",
     QT_TRANSLATE_NOOP("morvane::FrontPanel", "VCAエンベロープ"),
     {328, 8, 185, 81},
     8,
     56,
     80,
     97,
     {{EnvAttack, 16, QT_TRANSLATE_NOOP("morvane::FrontPanel", "ｱﾀｯｸ"), "LabelAttack"},
      {EnvDecay, 32, QT_TRANSLATE_NOOP("morvane::FrontPanel", "ﾃﾞｨｹｲ"), "LabelDecay"},
      {EnvSustain, 48, QT_TRANSLATE_NOOP("morvane::FrontPanel", "ｻｽﾃｨﾝ"), "LabelSustain"},
      {EnvRelease, 64, QT_TRANSLATE_NOOP("morvane::FrontPanel", "ﾘﾘｰｽ"), "LabelRelease"}}},
    {"VcfEnvelopeGroup",
     QT_TRANSLATE_NOOP("morvane::FrontPanel", "VCFエンベロープ"),
     {328, 96, 185, 105},
     8,
     56,
     80,
     97,
     {{EnvVcfAttack, 16, QT_TRANSLATE_NOOP("morvane::FrontPanel", "ｱﾀｯｸ"), "LabelVcfAttack"},
      {EnvVcfDecay, 32, QT_TRANSLATE_NOOP("morvane::FrontPanel", "ﾃﾞｨｹｲ"), "LabelVcfDecay"},
      {EnvVcfSustain, 48, QT_TRANSLATE_NOOP("morvane::FrontPanel", "ｻｽﾃｨﾝ"), "LabelVcfSustain"},
      {EnvVcfRelease, 64, QT_TRANSLATE_NOOP("morvane::FrontPanel", "ﾘﾘｰｽ"), "LabelVcfRelease"}}},
    {"VcfGroup",
     "VCF",
     {328, 208, 185, 65},
     8,
     56,
     80,
     97,
     {{VcfCutoff, 16, QT_TRANSLATE_NOOP("morvane::FrontPanel", "ｶｯﾄｵﾌ"), "LabelCutOff"},
      {VcfIntensity, 32, QT_TRANSLATE_NOOP("morvane::FrontPanel", "ｲﾝﾃﾝｼﾃｨ"), "LabelIntensity"},
      {VcfResonance, 48, QT_TRANSLATE_NOOP("morvane::FrontPanel", "ﾚｿﾞﾅﾝｽ"), "LabelResonance"}}},
};

struct RadioGroupLayout {
    ControlId id;
    const char* caption;
    QRect rect;
    bool octave;
};

const RadioGroupLayout kRadioGroups[] = {
    {Wave1Type, QT_TRANSLATE_NOOP("morvane::FrontPanel", "波形1"), {8, 8, 73, 81}, false},
    {Wave2Type, QT_TRANSLATE_NOOP("morvane::FrontPanel", "波形2"), {88, 8, 73, 81}, false},
    {Wave1Octave, QT_TRANSLATE_NOOP("morvane::FrontPanel", "ｵｸﾀｰﾌﾞ1"), {8, 96, 73, 65}, true},
    {Wave2Octave, QT_TRANSLATE_NOOP("morvane::FrontPanel", "ｵｸﾀｰﾌﾞ2"), {88, 96, 73, 65}, true},
};

struct CheckBoxLayout {
    ControlId id;
    const char* group;
    const char* caption;
    QRect rect;
};

const CheckBoxLayout kCheckBoxes[] = {
    {Wave2Detune,
     "VcoGroup",
     QT_TRANSLATE_NOOP("morvane::FrontPanel", "コーラス効果"),
     {8, 80, 137, kCheckBoxHeight}},
    {ModOn,
     "ModulationGroup",
     QT_TRANSLATE_NOOP("morvane::FrontPanel", "常にON"),
     {8, 64, 137, kCheckBoxHeight}},
    {UseVcfEnvelope,
     "VcfEnvelopeGroup",
     QT_TRANSLATE_NOOP("morvane::FrontPanel", "VCFエンベロープを使用する"),
     {8, 80, 169, kCheckBoxHeight}},
};

// The LFO shape pair in the modulation group; index = the ModType position.
struct ModTypeButtonLayout {
    const char* name;
    const char* caption;
    QRect rect;
};

const ModTypeButtonLayout kModTypeButtons[] = {
    {"RadioButtonModType0",
     QT_TRANSLATE_NOOP("morvane::FrontPanel", "三角波"),
     {8, 48, 64, kCheckBoxHeight}},
    {"RadioButtonModType1",
     QT_TRANSLATE_NOOP("morvane::FrontPanel", "矩形波"),
     {72, 48, 64, kCheckBoxHeight}},
};
constexpr const char* kModTypeGroup = "ModulationGroup";

// The tuning group, its parts placed inside it.
const struct {
    QRect group, label, upDown, reset;
} kTuningGroup = {
    {8, 280, 153, 33}, {16, 14, 33, kLabelHeight}, {57, 12, 32, 16}, {92, 12, 53, 17}};

const QRect kPresetGroupRect = {168, 280, 281, 33};
const QRect kPresetSaveRect = {456, 288, 57, 25};

// The panel's texts are Japanese in the source; the installed translation, if any,
// replaces them. Texts kept in tables are marked for the translator where they are written.
QString Text(const char* utf8) {
    return QCoreApplication::translate("morvane::FrontPanel", utf8);
}

QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top, int width) {
    auto* label = new QLabel(Text(text), parent);
    label->setGeometry(left, top, width, kLabelHeight);
    return label;
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

// The preset group's state is plain C++ and hands its captions over untranslated; they
// are named here so that the translator sees them.
[[maybe_unused]] const char* const kPresetGroupCaptions[] = {
    QT_TRANSLATE_NOOP("morvane::FrontPanel", "音色保存"),
    QT_TRANSLATE_NOOP("morvane::FrontPanel", "キャンセル"),
    QT_TRANSLATE_NOOP("morvane::FrontPanel", "音色プリセット"),
    QT_TRANSLATE_NOOP("morvane::FrontPanel", "保存先を選択してください"),
};

} // namespace

FrontPanel::FrontPanel(QWidget* parent) : QFrame(parent) {
    setObjectName("FrontPanel");
    setFont(CaptionFont());
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setGeometry(0, 0, kWidth, kHeight);
    setStyleSheet(PanelStyle());
    BuildSoundGroups();
    BuildTuningGroup();
    BuildPresetGroup();
}

void FrontPanel::BuildSoundGroups() {
    BuildRadioGroups();
    BuildSliderGroups();
    BuildCheckBoxes();
    BuildModTypePair();
}

void FrontPanel::BuildRadioGroups() {
    const QStringList waves{"OFF", tr("ﾉｺｷﾞﾘ波"), tr("矩形波"), tr("三角波")};
    const QStringList octaves{"HIGH", "MID", "LOW"};
    for (const RadioGroupLayout& layout : kRadioGroups) {
        auto* group =
            new TRadioGroup(Text(layout.caption), layout.octave ? octaves : waves, 1, this);
        group->setObjectName(Describe(layout.id).control);
        group->setGeometry(layout.rect);
        connect(group, &TRadioGroup::ItemClicked, this,
                [this, id = layout.id](int index) { emit ControlMoved(id, index); });
        controlWidgets_[layout.id] = group;
    }
}

void FrontPanel::BuildSliderGroups() {
    for (const SliderGroup& layout : kSliderGroups) {
        auto* group = new QGroupBox(Text(layout.caption), this);
        group->setObjectName(layout.name);
        group->setGeometry(layout.rect);
        for (const SliderRow& row : layout.rows) {
            const auto [value, bar] = MakeSliderRow(group, layout, row);
            valueLabels_[row.id] = value;
            controlWidgets_[row.id] = bar;
            connect(bar, &QScrollBar::valueChanged, this,
                    [this, id = row.id](int position) { emit ControlMoved(id, position); });
            bar->setContextMenuPolicy(Qt::CustomContextMenu);
            connect(bar, &QScrollBar::customContextMenuRequested, this,
                    [this, bar, id = row.id](const QPoint& at) {
                        emit ControlMenuRequested(id, bar->mapToGlobal(at));
                    });
        }
    }
}

void FrontPanel::BuildCheckBoxes() {
    for (const CheckBoxLayout& layout : kCheckBoxes) {
        auto* box = new QCheckBox(Text(layout.caption), findChild<QGroupBox*>(layout.group));
        box->setObjectName(Describe(layout.id).control);
        box->setGeometry(layout.rect);
        connect(box, &QCheckBox::toggled, this,
                [this, id = layout.id](bool checked) { emit ControlMoved(id, checked ? 1 : 0); });
        controlWidgets_[layout.id] = box;
    }
}

// The LFO shape pair: checking one runs its handler, which unchecks the other.
void FrontPanel::BuildModTypePair() {
    auto* modulation = findChild<QGroupBox*>(kModTypeGroup);
    for (int shape = 0; shape < int(std::size(kModTypeButtons)); ++shape) {
        const ModTypeButtonLayout& layout = kModTypeButtons[shape];
        auto* button = new QRadioButton(Text(layout.caption), modulation);
        button->setObjectName(layout.name);
        button->setGeometry(layout.rect);
        connect(button, &QRadioButton::toggled, this, [this, shape](bool checked) {
            if (checked)
                emit ControlMoved(ModType, shape);
        });
        modTypeButtons_[shape] = button;
    }
}

void FrontPanel::BuildTuningGroup() {
    TuningGroup = new QGroupBox(tr("チューニング"), this);
    TuningGroup->setObjectName("TuningGroup");
    TuningGroup->setGeometry(kTuningGroup.group);
    LabelTuning = new QLabel(TuningGroup);
    LabelTuning->setObjectName("LabelTuning");
    LabelTuning->setGeometry(kTuningGroup.label);
    LabelTuning->setAlignment(Qt::AlignCenter);
    UpDownTuning = new TUpDown(TuningGroup);
    UpDownTuning->setObjectName("UpDownTuning");
    UpDownTuning->setGeometry(kTuningGroup.upDown);
    btnTuningReset = new QPushButton(tr("リセット"), TuningGroup);
    btnTuningReset->setObjectName("btnTuningReset");
    btnTuningReset->setGeometry(kTuningGroup.reset);
    btnTuningReset->setAutoDefault(false);
    connect(UpDownTuning, &TUpDown::Clicked, this, &FrontPanel::TuningClicked);
    connect(btnTuningReset, &QPushButton::clicked, this, &FrontPanel::TuningResetClicked);
}

void FrontPanel::BuildPresetGroup() {
    QStringList items;
    for (int slot = 0; slot < kPresetSlotCount; ++slot)
        items << QString("F%1").arg(slot + 1);
    RadioPreset = new TRadioGroup(QString(), items, kPresetSlotCount, this);
    RadioPreset->setObjectName("RadioPreset");
    RadioPreset->setGeometry(kPresetGroupRect);
    connect(RadioPreset, &TRadioGroup::ItemClicked, this, &FrontPanel::PresetClicked);
    ButtonPresetSave = MakeFlatButton(this, "ButtonPresetSave", QString(), kPresetSaveRect);
    connect(ButtonPresetSave, &QToolButton::clicked, this, &FrontPanel::PresetSaveClicked);
}

void FrontPanel::ShowTuning(const std::string& label) {
    LabelTuning->setText(QString::fromStdString(label));
}

// A frame in the highlight colour just around the slider, drawn above it and letting the
// mouse through, so the slider looks and works as before inside it.
void FrontPanel::MarkLearning(std::optional<ControlId> id) {
    constexpr int kMarkWidth = 2;
    learning_ = id;
    if (!id) {
        if (learnMark_)
            learnMark_->hide();
        return;
    }
    QWidget* slider = controlWidgets_[*id];
    if (!learnMark_) {
        learnMark_ = new QFrame;
        learnMark_->setObjectName("learnMark");
        learnMark_->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    learnMark_->setParent(slider->parentWidget());
    learnMark_->setStyleSheet(QStringLiteral("#learnMark { border: %1px solid %2; }")
                                  .arg(kMarkWidth)
                                  .arg(palette().color(QPalette::Highlight).name()));
    learnMark_->setGeometry(
        slider->geometry().adjusted(-kMarkWidth, -kMarkWidth, kMarkWidth, kMarkWidth));
    learnMark_->show();
    learnMark_->raise();
}

void FrontPanel::ShowPresetMode(const char* groupCaption, const char* saveCaption,
                                int selectedSlot) {
    RadioPreset->setTitle(Text(groupCaption));
    ButtonPresetSave->setText(Text(saveCaption));
    RadioPreset->SetItemIndex(selectedSlot);
}

void FrontPanel::PositionChanged(ControlId id, int position) {
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

void FrontPanel::LabelChanged(ControlId id, const std::string& text) {
    QLabel* label = valueLabels_[id];
    if (!label)
        return;
    const QString shown = QString::fromStdString(text);
    label->setText(shown);
    // Values stand right-aligned against their sliders, clear of the row's caption. A
    // text wider than the room (a cutoff of 10.3k) starts at the label's left instead,
    // so that the slider hides its end and not its leading digits.
    // Measured in the panel's font: the label takes it only once it is polished.
    const bool fits = QFontMetrics(font()).horizontalAdvance(shown) <= label->width();
    label->setAlignment((fits ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
}

} // namespace morvane
