#include "ui/about_box.h"

#include "base/version.h"
#include "ui/caption_font.h"
#include "ui/glyphs.h"

#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace morvane {

namespace {

constexpr QSize kClientSize(415, 313);
constexpr QRect kPanelGeometry(8, 8, 401, 193);
// The audio path's figures: three lines in a panel of their own under the notes.
constexpr QRect kHealthPanelGeometry(8, 209, 401, 57);
constexpr int kHealthLabelLeft = 16;
constexpr QRect kIconGeometry(24, 16, 33, 33);
constexpr QRect kOkButtonGeometry(159, 276, 75, 25);
constexpr int kLabelLeft = 80;
// A label ends this far inside the panel's right edge.
constexpr int kLabelRightMargin = 8;

// The panel: a lowered outer bevel around a raised inner one. The inner bevel is a
// frame of its own one pixel inside the outer one, made before the panel's other
// children so it stays beneath them.
QFrame* MakeBevelPanel(QWidget* parent, const QRect& geometry) {
    auto* outer = new QFrame(parent);
    outer->setGeometry(geometry);
    outer->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    outer->setLineWidth(1);
    auto* inner = new QFrame(outer);
    inner->setGeometry(outer->rect().adjusted(1, 1, -1, -1));
    inner->setFrameStyle(QFrame::Panel | QFrame::Raised);
    inner->setLineWidth(1);
    return outer;
}

QLabel* MakeLabel(QWidget* panel, int top, const QString& text, int left = kLabelLeft) {
    auto* label = new QLabel(text, panel);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QString Milliseconds(int frames, int rate) {
    return QString::number(rate > 0 ? 1000.0 * frames / rate : 0.0, 'f', 1);
}

} // namespace

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(tr("バージョン情報"));
    // A top-level window does not take its owner's font, so the main window's is set here.
    setFont(CaptionFont());
    setFixedSize(kClientSize);

    NotesPanel = MakeBevelPanel(this, kPanelGeometry);
    ProgramIcon = new QLabel(NotesPanel);
    ProgramIcon->setGeometry(kIconGeometry);
    ProgramIcon->setScaledContents(true);
    ProductName = MakeLabel(NotesPanel, 16, QString());
    Comments = MakeLabel(NotesPanel, 64, tr("5音ポリフォニック シンセサイザー"));
    NoticeLabel = MakeLabel(NotesPanel, 88, tr("＜注意＞"));
    RecordingLimitLabel = MakeLabel(NotesPanel, 104, tr("録音は1ファイル10分までです。"));
    SettingsFileLabel = MakeLabel(NotesPanel, 120, QString());
    RecordingsLabel = MakeLabel(NotesPanel, 136, QString());
    LfoHintLabel = MakeLabel(NotesPanel, 160, tr("Ctrlキーを押している間、LFOがかかります。"));

    HealthPanel = MakeBevelPanel(this, kHealthPanelGeometry);
    OutputLabel = MakeLabel(HealthPanel, 6, QString(), kHealthLabelLeft);
    FormatLabel = MakeLabel(HealthPanel, 22, QString(), kHealthLabelLeft);
    StateLabel = MakeLabel(HealthPanel, 38, QString(), kHealthLabelLeft);
    ShowOutputHealth(std::nullopt, false);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setGeometry(kOkButtonGeometry);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);

    // Placed now, so that Qt does not centre the box over its owner when it is shown.
    // The frame is not known before the first showing, so the client area is centred.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect client(QPoint(), kClientSize);
        client.moveCenter(screen->availableGeometry().center());
        setGeometry(client);
    }

    ShowProduct();
}

void TAboutBox::ShowProduct() {
    ProgramIcon->setPixmap(QPixmap::fromImage(ProgramIconImage(kIconGeometry.width())));
    ProductName->setText(QStringLiteral("Morvane v") + QString::fromLatin1(kProgramVersion));
    ProductName->adjustSize();
}

void TAboutBox::ShowFileLocations(const std::filesystem::path& settingsFile,
                                  const std::filesystem::path& recordingDirectory) {
    // A long path keeps its start and its end; the whole of it is in the tooltip.
    const auto show = [this](QLabel* label, const QString& caption,
                             const std::filesystem::path& path) {
        const QString full = QString::fromStdString(path.string());
        const int room = NotesPanel->width() - kLabelLeft - kLabelRightMargin -
                         QFontMetrics(font()).horizontalAdvance(caption);
        label->setText(caption + QFontMetrics(font()).elidedText(full, Qt::ElideMiddle, room));
        label->setToolTip(full);
        label->adjustSize();
    };
    show(SettingsFileLabel, tr("設定ファイル: "), settingsFile);
    show(RecordingsLabel, tr("録音の保存先: "), recordingDirectory);
}

void TAboutBox::ShowOutputHealth(const std::optional<OutputHealth>& health, bool bufferGrown) {
    const auto set = [](QLabel* label, const QString& text) {
        label->setText(text);
        label->adjustSize();
    };
    if (!health) {
        set(OutputLabel, tr("出力: なし（サウンドデバイスを待っています）"));
        set(FormatLabel, QString());
        set(StateLabel, QString());
        return;
    }
    set(OutputLabel,
        tr("出力: %1（%2）")
            .arg(QString::fromStdString(health->output), QString::fromStdString(health->device)));
    set(FormatLabel, tr("%1 Hz、バッファ %2 フレーム（%3 ms）、遅延 %4 ms")
                         .arg(health->rate)
                         .arg(health->bufferFrames)
                         .arg(Milliseconds(health->bufferFrames, health->rate),
                              Milliseconds(health->latencyFrames, health->rate)));
    const QString realtime = !health->realtime   ? tr("確認中")
                             : *health->realtime ? tr("あり")
                                                 : tr("なし");
    QString state =
        tr("リアルタイム優先度: %1、アンダーラン: %2 回").arg(realtime).arg(health->underruns);
    if (bufferGrown)
        state += tr("、バッファ拡大済み");
    set(StateLabel, state);
}

void TAboutBox::ShowInFront() {
    show();
    raise();
    activateWindow();
}

// accept() hides the box; it is made once and kept for the next showing.
void TAboutBox::OKButtonClick() {
    accept();
}

} // namespace morvane
