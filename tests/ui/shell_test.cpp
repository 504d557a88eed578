#include "base/version.h"
#include "ui/about_box.h"
#include "ui/glyphs.h"
#include "ui/mixer.h"
#include "ui/single_instance.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>
#include <QTranslator>
#include <QtTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace morvane;

namespace {

// Started as a child of the test: claims the instance name given after it and holds it
// until it is killed.
constexpr char kHoldInstanceArgument[] = "--hold-instance";
constexpr char kClaimedLine[] = "claimed\n";

// A name of the test's own, so that the tests and a running Morvane leave each other alone.
QString TestInstanceName() {
    static int count = 0;
    return QStringLiteral("morvane shell test %1-%2").arg(getpid()).arg(++count);
}

QColor PixelOf(const QPixmap& pixmap, int x, int y) {
    return pixmap.toImage().pixelColor(x, y);
}

bool IsTransparent(const QColor& c) {
    return c.alpha() == 0;
}

// The glyphs keep to hard edges: each pixel is either background or fully drawn.
bool OnlyOpaqueOrTransparent(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (int alpha = image.pixelColor(x, y).alpha(); alpha != 0 && alpha != 255)
                return false;
    return true;
}

// A process id that certainly belongs to no process: a child that has already ended.
qint64 DeadProcessId() {
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

int HoldInstance(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    SingleInstance instance(QString::fromLocal8Bit(argv[2]));
    if (!instance.Claim())
        return 1;
    std::fputs(kClaimedLine, stdout);
    std::fflush(stdout);
    return app.exec();
}

} // namespace

class ShellTest : public QObject {
    Q_OBJECT
private slots:
    void recordAndStopGlyphs();
    void everyGlyphIsASmallHardEdgedPicture();
    void programIconComesInEverySize();

    void aboutBoxLayout();
    void aboutBoxInEnglishFitsItsPanel();
    void aboutBoxShowsTheAudioPathsHealth();
    void aboutBoxShowsWithoutBlockingAndHides();
    void aboutBoxEnterPressesOk();

    void secondInstanceIsRefusedAndShowsTheFirst();
    void instanceCanStartAgainAfterTheFirstEnds();
    void socketThatCannotBeServedIsToldAndTheInstanceRuns();
    void lockOfADeadProcessDoesNotBlock();
    void killedInstanceDoesNotBlock();
    void bringToFrontRestoresAMinimisedWindow();

    void mixerIsTheFirstInstalledCandidate();
    void terminalMixerNeedsItsConsoleProgram();
    void noMixerInstalledFindsNothing();
};

void ShellTest::recordAndStopGlyphs() {
    const QPixmap rec = RecordGlyph();
    QCOMPARE(PixelOf(rec, 5, 5), QColor(Qt::red));
    QCOMPARE(PixelOf(rec, 6, 6), QColor(Qt::red));
    // The disc is centred: it looks the same mirrored either way.
    const QImage recImage = rec.toImage();
    QCOMPARE(recImage.mirrored(true, false), recImage);
    QCOMPARE(recImage.mirrored(false, true), recImage);

    const QPixmap stop = StopGlyph();
    const QColor darkBlue(0, 0, 128);
    QCOMPARE(PixelOf(stop, 3, 6), darkBlue);
    QCOMPARE(PixelOf(stop, 8, 6), darkBlue);
    QVERIFY(IsTransparent(PixelOf(stop, 5, 6)));
    QVERIFY(IsTransparent(PixelOf(stop, 6, 6)));
    const QImage stopImage = stop.toImage();
    QCOMPARE(stopImage.mirrored(true, false), stopImage);
}

void ShellTest::everyGlyphIsASmallHardEdgedPicture() {
    for (const QPixmap& glyph : {RecordGlyph(), StopGlyph(), LoudspeakerGlyph()}) {
        QCOMPARE(glyph.size(), QSize(kGlyphSize, kGlyphSize));
        const QImage image = glyph.toImage();
        QVERIFY(IsTransparent(image.pixelColor(0, 0)));
        QVERIFY(IsTransparent(image.pixelColor(kGlyphSize - 1, kGlyphSize - 1)));
        QVERIFY(OnlyOpaqueOrTransparent(image));
    }
}

void ShellTest::programIconComesInEverySize() {
    const QList<QSize> sizes = ProgramIcon().availableSizes();
    for (int size : kProgramIconSizes) {
        QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
        const QImage image = ProgramIconImage(size);
        QCOMPARE(image.size(), QSize(size, size));
        // A tile on a transparent background.
        QVERIFY(IsTransparent(image.pixelColor(0, 0)));
        QCOMPARE(image.pixelColor(size / 2, size / 2).alpha(), 255);
    }
}

void ShellTest::aboutBoxLayout() {
    TAboutBox box;
    QCOMPARE(box.windowTitle(), QStringLiteral("バージョン情報"));
    QCOMPARE(box.size(), QSize(415, 313));
    QCOMPARE(box.minimumSize(), box.maximumSize());
    QVERIFY(!(box.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(box.font().family(), QStringLiteral("Noto Sans CJK JP"));
    QCOMPARE(box.font().pixelSize(), 12);

    QCOMPARE(box.NotesPanel->geometry(), QRect(8, 8, 401, 193));
    QCOMPARE(box.ProgramIcon->geometry(), QRect(24, 16, 33, 33));
    QVERIFY(!box.ProgramIcon->pixmap().isNull());
    QCOMPARE(box.HealthPanel->geometry(), QRect(8, 209, 401, 57));
    QCOMPARE(box.OKButton->geometry(), QRect(159, 276, 75, 25));
    QCOMPARE(box.OKButton->text(), QStringLiteral("OK"));
    QVERIFY(box.OKButton->isDefault());

    const struct {
        QLabel* label;
        int top;
        QString text;
    } labels[] = {
        {box.ProductName, 16, QStringLiteral("Morvane v") + QLatin1String(kProgramVersion)},
        {box.Comments, 64, QStringLiteral("5音ポリフォニック シンセサイザー")},
        {box.NoticeLabel, 88, QStringLiteral("＜注意＞")},
        {box.RecordingLimitLabel, 104, QStringLiteral("録音は1ファイル10分までです。")},
        {box.SettingsFileLabel, 120, QStringLiteral("設定ファイル: /home/someone/morvane.ini")},
        {box.RecordingsLabel, 136, QStringLiteral("録音の保存先: /home/someone/")},
        {box.LfoHintLabel, 160, QStringLiteral("Ctrlキーを押している間、LFOがかかります。")},
    };
    // A path too long for the panel is shortened in its middle, whole in the tooltip.
    const std::string longDirectory = "/home/someone/" + std::string(200, 'x') + "/music";
    box.ShowFileLocations("/home/someone/morvane.ini", longDirectory);
    QVERIFY(box.RecordingsLabel->text().endsWith("/music"));
    QCOMPARE(box.RecordingsLabel->toolTip(), QString::fromStdString(longDirectory));
    for (const auto& [label, top, text] : labels) {
        QCOMPARE(label->parentWidget(), box.NotesPanel);
        QCOMPARE(label->pos(), QPoint(80, top));
        QVERIFY2(label->text().startsWith(text), qPrintable(label->text()));
        QVERIFY2(label->geometry().right() < box.NotesPanel->width() - 1,
                 qPrintable(label->text()));
    }
}

void ShellTest::aboutBoxInEnglishFitsItsPanel() {
    QTranslator english;
    QVERIFY(english.load(":/translations/morvane_en.qm"));
    QCoreApplication::installTranslator(&english);
    TAboutBox box;
    box.ShowFileLocations("/home/someone/morvane.ini", "/home/someone/" + std::string(200, 'x'));
    // The longest lines the output's health makes.
    box.ShowOutputHealth(
        OutputHealth{"PortAudio", "default", 192000, 4096, 88200, std::nullopt, 123456}, true);
    QCoreApplication::removeTranslator(&english);
    QCOMPARE(box.windowTitle(), QStringLiteral("About Morvane"));
    QCOMPARE(box.SettingsFileLabel->text(),
             QStringLiteral("Settings file: /home/someone/morvane.ini"));
    QCOMPARE(box.StateLabel->text(),
             QStringLiteral("Real-time priority: checking, underruns: 123456, buffer enlarged"));
    for (const QFrame* panel : {box.NotesPanel, box.HealthPanel}) {
        for (const QLabel* label : panel->findChildren<QLabel*>())
            QVERIFY2(label->geometry().right() < panel->width() - 1, qPrintable(label->text()));
    }
}

// Each output as the box shows it, every line inside the panel.
void ShellTest::aboutBoxShowsTheAudioPathsHealth() {
    const struct {
        const char* what;
        std::optional<OutputHealth> health;
        bool grown;
        QStringList lines;
    } cases[] = {
        {"PipeWire at the engine's rate, real-time",
         OutputHealth{"PipeWire", "Morvane", 22050, 118, 559, true, 0},
         false,
         {"出力: PipeWire（Morvane）", "22050 Hz、バッファ 118 フレーム（5.4 ms）、遅延 25.4 ms",
          "リアルタイム優先度: あり、アンダーラン: 0 回"}},
        {"JACK at 48000 Hz, no real-time server",
         OutputHealth{"JACK", "Morvane-01", 48000, 960, 1920, false, 3},
         false,
         {"出力: JACK（Morvane-01）", "48000 Hz、バッファ 960 フレーム（20.0 ms）、遅延 40.0 ms",
          "リアルタイム優先度: なし、アンダーラン: 3 回"}},
        {"PortAudio before its first callback, grown",
         OutputHealth{"PortAudio", "default", 22050, 64, 882, std::nullopt, 7},
         true,
         {"出力: PortAudio（default）", "22050 Hz、バッファ 64 フレーム（2.9 ms）、遅延 40.0 ms",
          "リアルタイム優先度: 確認中、アンダーラン: 7 回、バッファ拡大済み"}},
        {"no output",
         std::nullopt,
         false,
         {"出力: なし（サウンドデバイスを待っています）", "", ""}},
    };
    TAboutBox box;
    for (const auto& c : cases) {
        box.ShowOutputHealth(c.health, c.grown);
        const QList<QLabel*> labels{box.OutputLabel, box.FormatLabel, box.StateLabel};
        for (int i = 0; i < labels.size(); ++i) {
            QCOMPARE(labels[i]->parentWidget(), box.HealthPanel);
            QVERIFY2(labels[i]->text() == c.lines[i],
                     qPrintable(c.what + (": " + labels[i]->text())));
            QVERIFY2(labels[i]->geometry().right() < box.HealthPanel->width() - 1, c.what);
        }
    }
}

void ShellTest::aboutBoxShowsWithoutBlockingAndHides() {
    QWidget owner;
    owner.show();
    TAboutBox box(&owner);
    box.ShowInFront();
    QVERIFY(box.isVisible());
    QVERIFY(!box.isModal());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY((box.geometry().center() - screen.center()).manhattanLength() <= 1);

    box.ShowInFront(); // a second click keeps the one box
    QVERIFY(box.isVisible());

    QTest::mouseClick(box.OKButton, Qt::LeftButton);
    QVERIFY(!box.isVisible());
    QCOMPARE(box.result(), int(QDialog::Accepted));

    box.ShowInFront();
    QVERIFY(box.isVisible());
    box.close(); // the title-bar close button
    QVERIFY(!box.isVisible());
    box.ShowInFront();
    QVERIFY(box.isVisible());
}

void ShellTest::aboutBoxEnterPressesOk() {
    TAboutBox box;
    box.ShowInFront();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTest::keyClick(&box, Qt::Key_Return);
    QVERIFY(!box.isVisible());
}

void ShellTest::secondInstanceIsRefusedAndShowsTheFirst() {
    const QString name = TestInstanceName();
    SingleInstance first(name);
    QVERIFY(first.Claim());
    int showRequests = 0;
    first.SetShowRequestHandler([&] { ++showRequests; });

    SingleInstance second(name);
    QVERIFY(!second.Claim());
    QCOMPARE(showRequests, 1);
    QVERIFY(second.RunningInstanceAnswered());
}

void ShellTest::instanceCanStartAgainAfterTheFirstEnds() {
    const QString name = TestInstanceName();
    QString lockPath;
    {
        SingleInstance first(name);
        QVERIFY(first.Claim());
        lockPath = first.LockFilePath();
    }
    QVERIFY(!QFile::exists(lockPath));
    SingleInstance next(name);
    QVERIFY(next.Claim());
}

void ShellTest::socketThatCannotBeServedIsToldAndTheInstanceRuns() {
    SingleInstance first(TestInstanceName());
    // A directory with something in it where the socket goes can be neither removed
    // nor listened on.
    QVERIFY(QDir().mkpath(first.SocketPath() + "/occupied"));
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("^morvane: a later start cannot show this window: "));
    QVERIFY(first.Claim());
    QVERIFY(QDir(first.SocketPath()).removeRecursively());
}

void ShellTest::lockOfADeadProcessDoesNotBlock() {
    const QString name = TestInstanceName();
    SingleInstance next(name);
    QFile lock(next.LockFilePath());
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(DeadProcessId()) + '\n' +
               QCoreApplication::applicationName().toUtf8() + '\n' +
               QSysInfo::machineHostName().toUtf8() + '\n');
    lock.close();
    QVERIFY(next.Claim());
}

void ShellTest::killedInstanceDoesNotBlock() {
    const QString name = TestInstanceName();
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(),
                 {QString::fromLatin1(kHoldInstanceArgument), name});
    QVERIFY(holder.waitForStarted());
    QTRY_VERIFY(holder.canReadLine());
    QCOMPARE(holder.readLine(), QByteArray(kClaimedLine));
    {
        SingleInstance whileHeld(name);
        QVERIFY(!whileHeld.Claim());
    }
    ::kill(pid_t(holder.processId()), SIGKILL);
    QVERIFY(holder.waitForFinished());

    // Its lock file and socket are left behind; the next start takes both over.
    SingleInstance next(name);
    QVERIFY(QFile::exists(next.LockFilePath()));
    QVERIFY(next.Claim());
    int showRequests = 0;
    next.SetShowRequestHandler([&] { ++showRequests; });
    SingleInstance later(name);
    QVERIFY(!later.Claim());
    QCOMPARE(showRequests, 1);
}

void ShellTest::bringToFrontRestoresAMinimisedWindow() {
    QWidget window;
    window.showMinimized();
    BringToFront(window);
    QVERIFY(window.isVisible());
    QVERIFY(!window.isMinimized());
}

namespace {

// A finder that knows the given programs, each found in a folder "bin".
ProgramFinder Installed(const QStringList& programs) {
    return [programs](const QString& program) {
        return programs.contains(program) ? QStringLiteral("bin/") + program : QString();
    };
}

} // namespace

void ShellTest::mixerIsTheFirstInstalledCandidate() {
    const auto mixer =
        FindMixer(DesktopMixers(),
                  Installed({"x-terminal-emulator", "alsamixer", "pavucontrol-qt", "pwvucontrol"}));
    QVERIFY(mixer.has_value());
    QCOMPARE(mixer->program, QStringLiteral("bin/pwvucontrol"));
    QVERIFY(mixer->arguments.isEmpty());

    QCOMPARE(FindMixer(DesktopMixers(), Installed({"pwvucontrol", "pavucontrol"}))->program,
             QStringLiteral("bin/pavucontrol"));
}

void ShellTest::terminalMixerNeedsItsConsoleProgram() {
    QVERIFY(!FindMixer(DesktopMixers(), Installed({"x-terminal-emulator"})).has_value());
    QVERIFY(!FindMixer(DesktopMixers(), Installed({"alsamixer"})).has_value());

    const auto mixer = FindMixer(DesktopMixers(), Installed({"x-terminal-emulator", "alsamixer"}));
    QVERIFY(mixer.has_value());
    QCOMPARE(mixer->program, QStringLiteral("bin/x-terminal-emulator"));
    QCOMPARE(mixer->arguments, QStringList({"-e", "alsamixer"}));
}

void ShellTest::noMixerInstalledFindsNothing() {
    QVERIFY(!FindMixer(DesktopMixers(), Installed({})).has_value());
    QVERIFY(!FindMixer({}, Installed({"pavucontrol"})).has_value());
}

// The test program doubles as the instance holder that the kill test starts and kills.
int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], kHoldInstanceArgument) == 0)
        return HoldInstance(argc, argv);
    QApplication app(argc, argv);
    ShellTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "shell_test.moc"
