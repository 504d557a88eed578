#include "ui/plugin_panel.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QToolButton>
#include <QToolTip>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <iostream>
#include <variant>

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>

#include "base/overloaded.h"
#include "engine/keymap.h"
#include "engine/startup.h"
#include "midi/versioned_bindings.h"
#include "plugin/ports.h"
#include "ui/caption_font.h"
#include "ui/front_panel.h"
#include "ui/glyphs.h"
#include "ui/midi_learn_menu.h"
#include "ui/midi_window.h"
#include "ui/panel_widgets.h"
#include "ui/translation.h"

namespace morvane {

namespace {

using lv2::LinkKind;

std::optional<ControlId> Control(std::optional<int> slider) {
    if (!slider || *slider < 0 || *slider >= kControlCount)
        return std::nullopt;
    return static_cast<ControlId>(*slider);
}

constexpr int kClientWidth = 522;
// Where the program has it, below its other flat buttons.
const QRect kMidiButtonRect = {470, 424, 43, 25};
constexpr std::uint8_t kNoteOff = 0x80;
constexpr std::uint8_t kNoteOn = 0x90;

int MidiNoteOfKey(int key) {
    return SemitoneOfKey(key) + kNoteOfSemitoneZero;
}

// Atoms are read where they are aligned as atoms must be, with zeros past the end for a
// property header that the last bytes begin, so that its size can be read and refused.
std::vector<std::uint64_t> Aligned(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kWord = sizeof(std::uint64_t);
    std::vector<std::uint64_t> words((bytes.size() + sizeof(LV2_Atom_Property)) / kWord + 1);
    std::memcpy(words.data(), bytes.data(), bytes.size());
    return words;
}

template <class T> void Append(std::vector<std::uint8_t>& bytes, const T& value) {
    const std::size_t at = bytes.size();
    bytes.resize(at + sizeof value);
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

} // namespace

PluginPanel::PluginPanel(int socket, std::filesystem::path settingsFile, const QString& title)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      socket_(socket), notifier_(socket, QSocketNotifier::Read),
      settingsFile_(std::move(settingsFile)), controls_(sound_), tuning_(sound_),
      presets_(controls_, settingsFile_) {
    setFont(CaptionFont());
    setWindowTitle(title);
    setWindowIcon(ProgramIcon());
    panel_ = new FrontPanel(this);
    connect(panel_, &FrontPanel::ControlMoved, this,
            [this](ControlId id, int position) { controls_.Set(id, position); });
    connect(panel_, &FrontPanel::ControlMenuRequested, this,
            [this](ControlId id, const QPoint& at) {
                std::unique_ptr<QMenu> menu(MidiLearnMenu(id));
                menu->exec(at);
            });
    connect(panel_, &FrontPanel::TuningClicked, this, [this](bool up) {
        if (up)
            tuning_.ClickUp();
        else
            tuning_.ClickDown();
        TuningMoved();
    });
    connect(panel_, &FrontPanel::TuningResetClicked, this, [this] {
        tuning_.btnTuningResetClick();
        TuningMoved();
    });
    connect(panel_, &FrontPanel::PresetClicked, this, &PluginPanel::SelectPreset);
    connect(panel_, &FrontPanel::PresetSaveClicked, this, [this] {
        presets_.ButtonPresetSaveClick();
        ShowPresetMode();
    });

    // The sound a fresh instance starts with, shown until the host tells its ports.
    controls_.SetListener(this);
    following_ = true;
    controls_.MoveStartUpSliders();
    LoadPreset(controls_, DefaultPresetValues());
    following_ = false;
    tuning_.SetTuning(kDefaultTuning);
    ShowTuning();
    ShowPresetMode();

    keyButtons_ = std::make_unique<TKeyButtons>(this, FrontPanel::kHeight);
    input_ = std::make_unique<KeyboardInput>(
        this, [this](const Command& command) { SendCommand(command); }, *keyButtons_,
        [this](int slot) { SelectPreset(slot); });
    panel_->raise();
    setFixedSize(kClientWidth, keyButtons_->LowerRowTop() + kRowHeight);
    input_->StartSweep();
    BuildMidiWindow();

    connect(&notifier_, &QSocketNotifier::activated, this, &PluginPanel::Receive);
}

PluginPanel::~PluginPanel() {
    controls_.SetListener(nullptr);
}

void PluginPanel::PositionChanged(ControlId id, int position) {
    panel_->PositionChanged(id, position);
    // A radio group or the LFO shape pair with nothing chosen has no port value.
    if (following_ || position < Describe(id).minimum || ports_[id] == position)
        return;
    ports_[id] = position;
    WritePort(lv2::ControlPort(id), position);
}

void PluginPanel::LabelChanged(ControlId id, const std::string& text) {
    panel_->LabelChanged(id, text);
}

// Everything that has arrived; the host's end closing ends the panel.
void PluginPanel::Receive() {
    std::vector<std::uint8_t> buffer(lv2::kLinkMessageLimit);
    if (!lv2::ReceiveLinks(socket_, buffer,
                           [this](const lv2::ReceivedLink& link) { Take(link); })) {
        notifier_.setEnabled(false);
        QCoreApplication::quit();
    }
}

void PluginPanel::Take(const lv2::ReceivedLink& link) {
    switch (link.header.kind) {
    case LinkKind::Urids:
        if (link.payload.size() != sizeof urids_)
            return;
        std::copy(link.payload.begin(), link.payload.end(),
                  reinterpret_cast<std::uint8_t*>(urids_.data()));
        uridsKnown_ = true;
        // The plugin tells the keys sounding and the bindings now.
        SendObject(lv2::kUriDescribe);
        return;
    case LinkKind::PortValue:
        if (const std::optional<float> value = link.Value())
            TakeValue(link.header.port, *value);
        return;
    case LinkKind::PortAtom:
        if (const auto atom = link.Atom();
            atom && static_cast<int>(link.header.port) == lv2::kNotifyPort)
            TakeMessage(*atom);
        return;
    }
}

// The host moved a port (automation, a preset, undo, or this panel's own write coming
// back): the control follows without writing the port again.
void PluginPanel::TakeValue(std::uint32_t port, float value) {
    if (!std::isfinite(value))
        return;
    const int index = static_cast<int>(port);
    if (index >= lv2::kFirstControlPort && index < lv2::kTuningPort) {
        const auto id = static_cast<ControlId>(index - lv2::kFirstControlPort);
        const int position =
            static_cast<int>(std::lround(std::clamp(value, static_cast<float>(Describe(id).minimum),
                                                    static_cast<float>(Describe(id).maximum))));
        ports_[id] = position;
        following_ = true;
        controls_.Set(id, position);
        following_ = false;
    } else if (index >= lv2::kFirstPlayingPort &&
               index < lv2::kFirstPlayingPort + lv2::kPlayingPortCount) {
        const PlayingControl control = kPlayingControls[index - lv2::kFirstPlayingPort];
        midiWindow->ShowPlaying(
            control, static_cast<int>(std::lround(
                         std::clamp(value, 0.0f, static_cast<float>(LargestPlaying(control))))));
    } else if (index == lv2::kTuningPort) {
        const int tuning = static_cast<int>(std::lround(std::clamp(
            value, static_cast<float>(kLowestTuning), static_cast<float>(kHighestTuning))));
        tuningPort_ = tuning;
        tuning_.SetTuning(tuning);
        ShowTuning();
    }
}

void PluginPanel::TakeMessage(std::span<const std::uint8_t> bytes) {
    if (!uridsKnown_ || bytes.size() < sizeof(LV2_Atom_Object))
        return;
    const std::vector<std::uint64_t> words = Aligned(bytes);
    const auto* object = reinterpret_cast<const LV2_Atom_Object*>(words.data());
    if (object->atom.type != urids_[lv2::kUriAtomObject])
        return;
    const auto* start = reinterpret_cast<const std::uint8_t*>(object);
    std::optional<std::int64_t> sounding;
    std::optional<int> slider;
    std::optional<int> controller;
    std::optional<int> takenFrom;
    std::optional<std::string_view> text;
    LV2_ATOM_OBJECT_FOREACH(object, property) {
        const LV2_Atom& value = property->value;
        // A property that runs past the object's end breaks the whole message.
        const auto* body = static_cast<const std::uint8_t*>(LV2_ATOM_BODY_CONST(&value));
        if (static_cast<std::size_t>(body - start) + value.size > bytes.size())
            return;
        if (property->key == urids_[lv2::kUriSounding] && value.type == urids_[lv2::kUriAtomLong])
            sounding = reinterpret_cast<const LV2_Atom_Long&>(value).body;
        else if (value.type == urids_[lv2::kUriAtomInt] && property->key == urids_[lv2::kUriSlider])
            slider = reinterpret_cast<const LV2_Atom_Int&>(value).body;
        else if (value.type == urids_[lv2::kUriAtomInt] &&
                 property->key == urids_[lv2::kUriController])
            controller = reinterpret_cast<const LV2_Atom_Int&>(value).body;
        else if (value.type == urids_[lv2::kUriAtomInt] &&
                 property->key == urids_[lv2::kUriTakenFrom])
            takenFrom = reinterpret_cast<const LV2_Atom_Int&>(value).body;
        else if (property->key == urids_[lv2::kUriText] &&
                 value.type == urids_[lv2::kUriAtomString] && value.size > 0)
            text = std::string_view(static_cast<const char*>(LV2_ATOM_BODY_CONST(&value)),
                                    value.size - 1);
    }
    const std::uint32_t type = object->body.otype;
    if (type == urids_[lv2::kUriKeys] && sounding) {
        for (int key = 0; key < kKeyCount; ++key)
            keyButtons_->SetKeyColour(key, (*sounding >> key) & 1);
    } else if (type == urids_[lv2::kUriLearnArmed]) {
        panel_->MarkLearning(Control(slider));
    } else if (type == urids_[lv2::kUriLearnt]) {
        ShowLearnt(Control(slider), controller, Control(takenFrom));
    } else if (type == urids_[lv2::kUriBindings] && text) {
        if (Result<ControllerBindings> bindings = ReadVersionedBindings(*text)) {
            told_ = *bindings;
            bindings_ = *bindings;
            midiWindow->ShowBindings();
        }
    }
}

void PluginPanel::Send(const std::vector<std::uint8_t>& message) {
    while (::send(socket_, message.data(), message.size(), MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
}

void PluginPanel::WritePort(int port, int value) {
    Send(lv2::PortValueMessage(static_cast<std::uint32_t>(port), static_cast<float>(value)));
}

void PluginPanel::SendMidi(std::uint8_t status, int note, int velocity) {
    if (!uridsKnown_)
        return;
    std::vector<std::uint8_t> atom;
    Append(atom, LV2_Atom{3, urids_[lv2::kUriMidiEvent]});
    atom.push_back(status);
    atom.push_back(static_cast<std::uint8_t>(note));
    atom.push_back(static_cast<std::uint8_t>(velocity));
    Send(lv2::LinkMessage(LinkKind::PortAtom, lv2::kMidiInPort, atom));
}

// A message to the plugin's control port: an object of the type with at most one atom:Int
// property (the key's URI index and the value).
void PluginPanel::SendObject(int type, std::optional<std::pair<int, int>> property) {
    if (!uridsKnown_)
        return;
    std::vector<std::uint8_t> atom;
    const std::uint32_t size =
        sizeof(LV2_Atom_Object_Body) + (property ? sizeof(LV2_Atom_Property_Body) + 8 : 0);
    Append(atom, LV2_Atom{size, urids_[lv2::kUriAtomObject]});
    Append(atom, LV2_Atom_Object_Body{0, urids_[type]});
    if (property) {
        Append(atom,
               LV2_Atom_Property_Body{urids_[property->first], 0,
                                      LV2_Atom{sizeof(std::int32_t), urids_[lv2::kUriAtomInt]}});
        Append(atom, static_cast<std::int32_t>(property->second));
        Append(atom, std::int32_t{0}); // padding to 8 bytes
    }
    Send(lv2::LinkMessage(LinkKind::PortAtom, lv2::kControlInPort, atom));
}

// Keys play through the instance's MIDI input at full velocity; the Ctrl key's LFO gate,
// which has no MIDI message, goes to its control port.
void PluginPanel::SendCommand(const Command& command) {
    const auto up = [this](int key) {
        if (key < 0 || key >= kKeyCount || !keysDown_[key])
            return;
        keysDown_.reset(key);
        SendMidi(kNoteOff, MidiNoteOfKey(key), 0);
    };
    std::visit(Overloaded{
                   [&](const KeyDown& down) {
                       if (down.key < 0 || down.key >= kKeyCount)
                           return;
                       keysDown_.set(down.key);
                       SendMidi(kNoteOn, MidiNoteOfKey(down.key), kFullVelocity);
                   },
                   [&](const KeyUp& key) { up(key.key); },
                   [&](const ReleaseUnheld& sweep) {
                       for (int key = 0; key < kKeyCount; ++key)
                           if (!sweep.keysHeld[key])
                               up(key);
                       if (!sweep.ctrlHeld)
                           HoldCtrl(false);
                   },
                   [&](const HoldLfo& hold) { HoldCtrl(hold.held); },
                   [](const auto&) {},
               },
               command);
}

// As the program's slider menu, the learn and the let-go done by the instance.
QMenu* PluginPanel::MidiLearnMenu(ControlId id) {
    const std::optional<int> bound = bindings_.ControllerFor(id);
    return morvane::MidiLearnMenu(
        this, bound,
        [this, id] {
            panel_->MarkLearning(id);
            SendObject(lv2::kUriLearn, std::pair{lv2::kUriSlider, static_cast<int>(id)});
        },
        // Offered only while a controller is bound.
        [this, id, bound] {
            bindings_.Unbind(id);
            told_ = bindings_;
            midiWindow->ShowBindings();
            SendObject(lv2::kUriForget, std::pair{lv2::kUriController, *bound});
        });
}

// The instance's MIDI settings: how it plays (its ports) and its bindings, which the
// instance keeps; the window's changes go to it as messages.
void PluginPanel::BuildMidiWindow() {
    btnMidi = MakeFlatButton(this, "btnMidi", "MIDI", kMidiButtonRect);
    MidiWindowSetup setup;
    setup.instance = true;
    midiWindow = new MidiWindow(this, std::move(setup), bindings_);
    connect(btnMidi, &QToolButton::clicked, this, [this] {
        midiWindow->show();
        midiWindow->raise();
        midiWindow->activateWindow();
    });
    connect(midiWindow, &MidiWindow::PlayingChanged, this,
            [this](PlayingControl control, int value) {
                WritePort(lv2::kFirstPlayingPort + static_cast<int>(control), value);
            });
    connect(midiWindow, &MidiWindow::BindingsChanged, this, &PluginPanel::SendBindingChanges);
}

// The window removed a binding or brought the defaults back: the instance is told so, and
// answers with its bindings.
void PluginPanel::SendBindingChanges() {
    if (bindings_ == ControllerBindings::Defaults()) {
        SendObject(lv2::kUriRestoreBindings);
    } else {
        for (int controller = 0; controller < kBindingSourceCount; ++controller)
            if (told_.ControlFor(controller) && !bindings_.ControlFor(controller))
                SendObject(lv2::kUriForget, std::pair{lv2::kUriController, controller});
    }
    told_ = bindings_;
}

// As the program shows a learn: the slider no longer framed, the list anew, and where the
// controller moved another slider before, a word of it by the slider.
void PluginPanel::ShowLearnt(std::optional<ControlId> id, std::optional<int> controller,
                             std::optional<ControlId> takenFrom) {
    panel_->MarkLearning(std::nullopt);
    if (!id || !controller)
        return;
    static_cast<void>(bindings_.Bind(*controller, *id));
    told_ = bindings_;
    midiWindow->ShowBindings();
    if (takenFrom && *takenFrom != *id) {
        midiWindow->ShowControllerTaken(*controller, *takenFrom, *id);
        QToolTip::showText(panel_->ControlWidget(*id)->mapToGlobal(QPoint(0, 0)),
                           midiWindow->statusLine->text(), panel_->ControlWidget(*id));
    }
}

// Only changes are sent. A Ctrl key let go while another window has the keyboard sends no
// key-up here, so the panel lets go of it itself when it loses the keyboard or closes.
void PluginPanel::HoldCtrl(bool held) {
    if (held == ctrlHeld_)
        return;
    ctrlHeld_ = held;
    SendObject(lv2::kUriCtrl, std::pair{lv2::kUriHeld, held ? 1 : 0});
}

bool PluginPanel::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate)
        HoldCtrl(false);
    return QWidget::event(event);
}

void PluginPanel::closeEvent(QCloseEvent* event) {
    HoldCtrl(false);
    QWidget::closeEvent(event);
}

void PluginPanel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && panel_->MarkedForLearning()) {
        SendObject(lv2::kUriCancelLearn);
        panel_->MarkLearning(std::nullopt);
        return;
    }
    QWidget::keyPressEvent(event);
}

// A load moves every control of the preset, and so its port; a save writes the ports'
// values, which the controls show, into the settings file.
void PluginPanel::SelectPreset(int slot) {
    const Status done = presets_.SelectSlot(slot);
    ShowPresetMode();
    if (!done) {
        std::cerr << "morvane panel: " << done.error().message << '\n';
        auto* box = new QMessageBox(QMessageBox::Warning, ErrorCaption(),
                                    TranslatedMessage(done.error().message), QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
}

void PluginPanel::ShowPresetMode() {
    panel_->ShowPresetMode(presets_.PresetGroupCaption(), presets_.SaveButtonCaption(),
                           presets_.SelectedSlot());
}

void PluginPanel::ShowTuning() {
    panel_->ShowTuning(tuning_.Label());
}

void PluginPanel::TuningMoved() {
    ShowTuning();
    if (tuningPort_ == sound_.Tuning)
        return;
    tuningPort_ = sound_.Tuning;
    WritePort(lv2::kTuningPort, sound_.Tuning);
}

} // namespace morvane
