#include "ui/midi_window.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>
#include <utility>

#include "settings/midi_settings_file.h"

namespace morvane {

namespace {

// How often the lamp looks at the count: well inside its lit time, so that two messages
// a little more than that apart light it twice.
constexpr int kLampPollMs = 20;

// The controller's row in the bindings list carries the controller.
constexpr int kControllerRole = Qt::UserRole;

// The playing settings' rows, in kPlayingControls' order.
struct PlayingRow {
    const char* name;
    const char* label;
    const char* suffix; // marked for the translator when it has words
};
const PlayingRow kPlayingRows[] = {
    {"velocityAmpBox", QT_TRANSLATE_NOOP("morvane::MidiWindow", "ベロシティ→音量"), " %"},
    {"velocityCutoffBox", QT_TRANSLATE_NOOP("morvane::MidiWindow", "ベロシティ→カットオフ"), " %"},
    {"bendRangeBox", QT_TRANSLATE_NOOP("morvane::MidiWindow", "ベンド幅"),
     QT_TRANSLATE_NOOP("morvane::MidiWindow", " 半音")},
};
static_assert(std::size(kPlayingRows) == kPlayingControls.size());

QString SliderName(ControlId id) {
    return QString::fromLatin1(Describe(id).key);
}

} // namespace

MidiLamp::MidiLamp(QWidget* parent, std::function<std::uint64_t()> count)
    : QWidget(parent), count_(std::move(count)) {
    seen_ = count_();
    dim_.setSingleShot(true);
    connect(&dim_, &QTimer::timeout, this, [this] {
        lit_ = false;
        update();
    });
    connect(&poll_, &QTimer::timeout, this, &MidiLamp::Look);
    poll_.start(kLampPollMs);
}

void MidiLamp::Look() {
    const std::uint64_t count = count_();
    if (count == seen_)
        return;
    seen_ = count;
    lit_ = true;
    dim_.start(kLitMs);
    update();
}

void MidiLamp::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(palette().color(QPalette::Dark));
    painter.setBrush(lit_ ? QColor(Qt::green) : palette().color(QPalette::Mid));
    painter.drawEllipse(rect().adjusted(0, 0, -1, -1));
}

MidiWindow::MidiWindow(QWidget* parent, MidiWindowSetup setup, ControllerBindings& bindings)
    : QDialog(parent), setup_(std::move(setup)), bindings_(bindings) {
    setObjectName("MidiWindow");
    setWindowTitle(tr("MIDI設定"));
    PlayingParameters playingValues;
    // An instance's window shows its ports, told later, from the defaults on.
    if (!setup_.instance) {
        if (Result<MidiSettings> loaded = LoadMidiSettings(setup_.settingsFile, setup_.skipped)) {
            channel_ = loaded->channel;
            sources_ = loaded->sources;
            playingValues = loaded->playing;
        }
    }

    auto* playing = new QGroupBox(tr("演奏"), this);
    auto* form = new QFormLayout(playing);
    channelBox = new QSpinBox(playing);
    channelBox->setObjectName("channelBox");
    channelBox->setRange(kAllMidiChannels, kLastMidiChannel);
    channelBox->setSpecialValueText(tr("すべて"));
    channelBox->setValue(channel_);
    channelNote = new QLabel(playing);
    channelNote->setObjectName("channelNote");
    if (setup_.commandLineChannel) {
        channelBox->setEnabled(false);
        channelNote->setText(
            tr("--midi-channel=%1 が優先されています").arg(*setup_.commandLineChannel));
    }
    channelNote->setVisible(setup_.commandLineChannel.has_value());
    if (setup_.instance) {
        channelBox->hide();
        channelNote->hide();
    } else {
        form->addRow(tr("チャンネル"), channelBox);
        form->addRow(QString(), channelNote);
    }
    connect(channelBox, &QSpinBox::valueChanged, this, &MidiWindow::ChannelChosen);
    for (std::size_t i = 0; i < kPlayingControls.size(); ++i) {
        const PlayingControl control = kPlayingControls[i];
        auto* box = new QSpinBox(playing);
        box->setObjectName(kPlayingRows[i].name);
        box->setRange(0, LargestPlaying(control));
        box->setSuffix(tr(kPlayingRows[i].suffix));
        box->setValue(ReadPlaying(playingValues, control));
        form->addRow(tr(kPlayingRows[i].label), box);
        connect(box, &QSpinBox::valueChanged, this,
                [this, control](int value) { PlayingChosen(control, value); });
        playingBoxes[i] = box;
    }

    auto* sourcesGroup = new QGroupBox(tr("MIDI入力元"), this);
    auto* sourcesLayout = new QVBoxLayout(sourcesGroup);
    sourceList = new QListWidget(sourcesGroup);
    sourceList->setObjectName("sourceList");
    sourcesLayout->addWidget(sourceList);
    connect(sourceList, &QListWidget::itemChanged, this, &MidiWindow::SourceTicked);

    auto* bindingsGroup = new QGroupBox(tr("コントローラー割り当て"), this);
    auto* bindingsLayout = new QVBoxLayout(bindingsGroup);
    bindingList = new QListWidget(bindingsGroup);
    bindingList->setObjectName("bindingList");
    removeButton = new QPushButton(tr("削除"), bindingsGroup);
    removeButton->setObjectName("removeButton");
    defaultsButton = new QPushButton(tr("初期設定に戻す"), bindingsGroup);
    defaultsButton->setObjectName("defaultsButton");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(removeButton);
    buttons->addStretch();
    buttons->addWidget(defaultsButton);
    bindingsLayout->addWidget(bindingList);
    bindingsLayout->addLayout(buttons);
    connect(removeButton, &QPushButton::clicked, this, &MidiWindow::RemoveBinding);
    connect(defaultsButton, &QPushButton::clicked, this, &MidiWindow::RestoreDefaults);
    connect(bindingList, &QListWidget::currentRowChanged, this,
            [this](int row) { removeButton->setEnabled(row >= 0); });

    statusLine = new QLabel(this);
    statusLine->setObjectName("statusLine");
    statusLine->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(playing);
    if (setup_.instance)
        sourcesGroup->hide();
    else
        layout->addWidget(sourcesGroup);
    layout->addWidget(bindingsGroup);
    layout->addWidget(statusLine);

    ShowBindings();
    if (setup_.instance)
        return;
    connect(&sourcePoll_, &QTimer::timeout, this, &MidiWindow::PollSources);
    sourcePoll_.start(kSourcePollMs);
    PollSources();
}

MidiWindow::~MidiWindow() = default;

std::optional<int> MidiWindow::ListenedChannel() const {
    if (setup_.commandLineChannel)
        return setup_.commandLineChannel;
    if (channel_ == kAllMidiChannels)
        return std::nullopt;
    return channel_;
}

void MidiWindow::ChannelChosen(int channel) {
    channel_ = channel;
    setup_.fileError(SaveMidiChannel(setup_.settingsFile, channel));
    emit MidiSetupChanged();
}

void MidiWindow::PlayingChosen(PlayingControl control, int value) {
    if (!setup_.instance)
        setup_.fileError(SaveMidiPlaying(setup_.settingsFile, control, value));
    emit PlayingChanged(control, value);
}

// What the box shows is what the next start plays with: the file keeps it. The player has
// it already, and a second RPN may have changed it since, so nothing goes back.
void MidiWindow::ShowPlaying(PlayingControl control, int value) {
    QSpinBox* box = playingBoxes[static_cast<std::size_t>(control)];
    if (box->value() == value)
        return;
    const QSignalBlocker quiet(box);
    box->setValue(value);
    if (!setup_.instance)
        setup_.fileError(SaveMidiPlaying(setup_.settingsFile, control, value));
}

void MidiWindow::ShowBindings() {
    bindingList->clear();
    for (int controller = 0; controller < kBindingSourceCount; ++controller) {
        const std::optional<ControlId> id = bindings_.ControlFor(controller);
        if (!id)
            continue;
        auto* item = new QListWidgetItem(
            QStringLiteral("%1 \u2192 %2")
                .arg(QString::fromStdString(ControllerBindings::KeyOf(controller)))
                .arg(SliderName(*id)),
            bindingList);
        item->setData(kControllerRole, controller);
    }
    removeButton->setEnabled(false);
}

void MidiWindow::ShowControllerTaken(int controller, ControlId from, ControlId to) {
    statusLine->setText(tr("%1 は %2 から %3 に移りました")
                            .arg(QString::fromStdString(ControllerBindings::KeyOf(controller)))
                            .arg(SliderName(from), SliderName(to)));
}

void MidiWindow::RemoveBinding() {
    const QListWidgetItem* item = bindingList->currentItem();
    if (!item)
        return;
    if (const std::optional<ControlId> id =
            bindings_.ControlFor(item->data(kControllerRole).toInt()))
        bindings_.Unbind(*id);
    ShowBindings();
    emit BindingsChanged();
    emit MidiSetupChanged();
}

void MidiWindow::RestoreDefaults() {
    bindings_ = ControllerBindings::Defaults();
    ShowBindings();
    statusLine->clear();
    emit BindingsChanged();
    emit MidiSetupChanged();
}

// The sources ticked are connected whenever they are present: one that goes away and
// comes back (a keyboard unplugged, a sequencer restarted) is connected again by itself.
// The list is built anew only when what it shows changes, so a tick is never lost to it.
void MidiWindow::PollSources() {
    if (setup_.instance)
        return;
    if (present_ && present_->Lost())
        present_.reset();
    if (!present_ && setup_.openSources)
        present_ = setup_.openSources();
    const std::vector<std::string> here = present_ ? present_->List() : std::vector<std::string>{};
    std::vector<std::string> shown = here;
    for (const std::string& source : sources_) {
        const bool present = std::ranges::find(here, source) != here.end();
        if (present && !present_->Connected(source))
            ShowConnection(present_->Connect(source));
        if (!present)
            shown.push_back(source);
    }
    if (shown == shownSources_ && here == presentSources_)
        return;
    shownSources_ = shown;
    presentSources_ = here;
    showingSources_ = true;
    sourceList->clear();
    for (const std::string& source : shown) {
        auto* item = new QListWidgetItem(QString::fromStdString(source), sourceList);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        const bool ticked = std::ranges::find(sources_, source) != sources_.end();
        item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
        if (std::ranges::find(here, source) == here.end())
            item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
    }
    showingSources_ = false;
}

void MidiWindow::showEvent(QShowEvent* event) {
    PollSources();
    QDialog::showEvent(event);
}

// A source that cannot be connected is said under the lists, not in a box: the poll
// tries again every second.
void MidiWindow::ShowConnection(const Status& connected) {
    if (!connected)
        statusLine->setText(QString::fromStdString(connected.error().message));
}

void MidiWindow::SourceTicked(QListWidgetItem* item) {
    if (showingSources_)
        return;
    const std::string source = item->text().toStdString();
    const auto found = std::ranges::find(sources_, source);
    const bool ticked = item->checkState() == Qt::Checked;
    if (ticked && found == sources_.end())
        sources_.push_back(source);
    if (!ticked && found != sources_.end())
        sources_.erase(found);
    setup_.fileError(SaveMidiSources(setup_.settingsFile, sources_));
    if (!present_)
        return;
    ShowConnection(ticked ? present_->Connect(source) : present_->Disconnect(source));
}

} // namespace morvane
