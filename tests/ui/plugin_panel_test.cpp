#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QGroupBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTranslator>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <lv2/atom/atom.h>

#include "plugin/ports.h"
#include "plugin/ui_link.h"
#include "ui/front_panel.h"
#include "ui/midi_window.h"
#include "ui/panel_widgets.h"
#include "ui/plugin_panel.h"
#include "ui/translation.h"

using namespace morvane;
using lv2::LinkKind;

namespace {

// The host's URID of each link URI: its index plus one.
std::uint32_t Urid(int uri) {
    return static_cast<std::uint32_t>(uri + 1);
}

template <class T> void Append(std::vector<std::uint8_t>& bytes, const T& value) {
    const std::size_t at = bytes.size();
    bytes.resize(at + sizeof value);
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

// The plugin's Bindings message with the text, its size overstated by excess bytes.
std::vector<std::uint8_t> BindingsMessage(const std::string& text, std::uint32_t excess = 0) {
    const std::uint32_t textSize = static_cast<std::uint32_t>(text.size() + 1);
    const std::uint32_t padded = (textSize + 7) / 8 * 8;
    std::vector<std::uint8_t> atom;
    Append(atom, LV2_Atom{static_cast<std::uint32_t>(sizeof(LV2_Atom_Object_Body) +
                                                     sizeof(LV2_Atom_Property_Body) + padded),
                          Urid(lv2::kUriAtomObject)});
    Append(atom, LV2_Atom_Object_Body{0, Urid(lv2::kUriBindings)});
    Append(atom, LV2_Atom_Property_Body{Urid(lv2::kUriText), 0,
                                        LV2_Atom{textSize + excess, Urid(lv2::kUriAtomString)}});
    atom.insert(atom.end(), text.begin(), text.end());
    atom.resize(atom.size() + padded - text.size());
    return lv2::LinkMessage(LinkKind::PortAtom, lv2::kNotifyPort, atom);
}

// A message of the plugin with Int properties (URI index, value).
std::vector<std::uint8_t> IntMessage(int type, const std::vector<std::pair<int, int>>& properties) {
    std::vector<std::uint8_t> atom;
    Append(atom, LV2_Atom{static_cast<std::uint32_t>(sizeof(LV2_Atom_Object_Body) +
                                                     properties.size() *
                                                         (sizeof(LV2_Atom_Property_Body) + 8)),
                          Urid(lv2::kUriAtomObject)});
    Append(atom, LV2_Atom_Object_Body{0, Urid(type)});
    for (const auto& [key, value] : properties) {
        Append(atom, LV2_Atom_Property_Body{Urid(key), 0, LV2_Atom{4, Urid(lv2::kUriAtomInt)}});
        Append(atom, std::int32_t{value});
        Append(atom, std::int32_t{0}); // to 8 bytes
    }
    return lv2::LinkMessage(LinkKind::PortAtom, lv2::kNotifyPort, atom);
}

// The UI library's end of the socket.
class Library {
public:
    Library() {
        QVERIFY(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends_) == 0);
        std::vector<std::uint32_t> urids;
        for (int uri = 0; uri < lv2::kLinkUriCount; ++uri)
            urids.push_back(Urid(uri));
        Send(lv2::LinkMessage(
            LinkKind::Urids, 0,
            std::span(reinterpret_cast<const std::uint8_t*>(urids.data()), urids.size() * 4)));
    }
    ~Library() { ::close(ends_[0]); }
    int PanelEnd() const { return ends_[1]; }

    void Send(const std::vector<std::uint8_t>& message) {
        QVERIFY(::send(ends_[0], message.data(), message.size(), 0) > 0);
        QTest::qWait(50);
    }
    void SendValue(int port, float value) { Send(lv2::PortValueMessage(port, value)); }

    // What the panel sent since the last call.
    std::vector<lv2::ReceivedLink> Received() {
        QTest::qWait(50);
        std::vector<lv2::ReceivedLink> links;
        std::vector<std::uint8_t> buffer(lv2::kLinkMessageLimit);
        for (ssize_t size;
             (size = ::recv(ends_[0], buffer.data(), buffer.size(), MSG_DONTWAIT)) > 0;)
            links.push_back(
                *lv2::ParseLink(std::span(buffer.data(), static_cast<std::size_t>(size))));
        return links;
    }

private:
    int ends_[2] = {-1, -1};
};

// The port values among the links, in order.
std::vector<std::pair<int, float>> Values(const std::vector<lv2::ReceivedLink>& links) {
    std::vector<std::pair<int, float>> values;
    for (const lv2::ReceivedLink& link : links)
        if (link.Value())
            values.emplace_back(static_cast<int>(link.header.port), *link.Value());
    return values;
}

// The message types (URIDs) of the objects sent to the plugin's control port, and the Int
// property each carries, if any.
std::vector<std::pair<std::uint32_t, int>> Messages(const std::vector<lv2::ReceivedLink>& links) {
    std::vector<std::pair<std::uint32_t, int>> messages;
    for (const lv2::ReceivedLink& link : links) {
        if (link.header.kind != LinkKind::PortAtom ||
            static_cast<int>(link.header.port) != lv2::kControlInPort)
            continue;
        LV2_Atom_Object_Body body;
        std::memcpy(&body, link.payload.data() + sizeof(LV2_Atom), sizeof body);
        int value = -1;
        const std::size_t property = sizeof(LV2_Atom_Object) + sizeof(LV2_Atom_Property_Body);
        if (link.payload.size() >= property + 4)
            std::memcpy(&value, link.payload.data() + property, 4);
        messages.emplace_back(body.otype, value);
    }
    return messages;
}

} // namespace

class PluginPanelTest : public QObject {
    Q_OBJECT
private slots:
    // The panel moves ports only for what the user does; what the host moves it shows.
    void movesPortsForTheUserAndFollowsTheHost() {
        QTemporaryDir folder;
        Library library;
        PluginPanel panel(library.PanelEnd(), folder.filePath("morvane.ini").toStdString(), "T");
        QCOMPARE(Messages(library.Received()),
                 (std::vector<std::pair<std::uint32_t, int>>{{Urid(lv2::kUriDescribe), -1}}));

        auto* cutoff = static_cast<QScrollBar*>(panel.Panel().ControlWidget(VcfCutoff));
        library.SendValue(lv2::ControlPort(VcfCutoff), 80);
        library.SendValue(lv2::kTuningPort, 4500);
        library.SendValue(lv2::kFirstPlayingPort + 2, 12);
        QCOMPARE(cutoff->value(), 80);
        QCOMPARE(panel.Panel().LabelTuning->text(), QString("450.0"));
        QCOMPARE(panel.midiWindow->playingBoxes[2]->value(), 12);
        QVERIFY(library.Received().empty());

        cutoff->setValue(81);
        panel.Panel().UpDownTuning->UpButton()->click(); // the program's step: 0.2 Hz
        panel.midiWindow->playingBoxes[0]->setValue(40);
        QCOMPARE(Values(library.Received()),
                 (std::vector<std::pair<int, float>>{{lv2::ControlPort(VcfCutoff), 81},
                                                     {lv2::kTuningPort, 4502},
                                                     {lv2::kFirstPlayingPort, 40}}));
    }

    // A save keeps the ports' values in the settings file, which a load sets the ports from.
    void savesAndLoadsPresetsThroughThePorts() {
        QTemporaryDir folder;
        const QString file = folder.filePath("morvane.ini");
        Library library;
        PluginPanel panel(library.PanelEnd(), file.toStdString(), "T");
        library.SendValue(lv2::ControlPort(VcfCutoff), 77);
        library.Received();
        panel.Panel().ButtonPresetSave->click();
        emit panel.Panel().PresetClicked(3);
        QFile saved(file);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(saved.readAll());
        QVERIFY(text.contains(QRegularExpression("\\[PRESET3\\][^[]*VCF_CUTOFF=77")));
        QVERIFY(library.Received().empty());

        library.SendValue(lv2::ControlPort(VcfCutoff), 20);
        QTest::keyClick(&panel, Qt::Key_F4); // loads even the slot selected
        QCOMPARE(Values(library.Received()),
                 (std::vector<std::pair<int, float>>{{lv2::ControlPort(VcfCutoff), 77}}));
    }

    // The bindings the instance tells are listed; a removal and the defaults go back to it.
    void editsTheInstancesBindings() {
        QTemporaryDir folder;
        Library library;
        PluginPanel panel(library.PanelEnd(), folder.filePath("morvane.ini").toStdString(), "T");
        library.Received();
        // A text that claims more than its message holds is not read past the end.
        const std::string text = "morvane-bindings 1\nCC20=VCF_CUTOFF\nCC74=\n";
        library.Send(BindingsMessage(text, 64));
        QListWidget* list = panel.midiWindow->bindingList;
        QVERIFY(list->findItems("CC20", Qt::MatchStartsWith).empty());
        library.Send(BindingsMessage(text));
        QVERIFY(!list->findItems("CC20", Qt::MatchStartsWith).empty());
        QVERIFY(list->findItems("CC74", Qt::MatchStartsWith).empty());

        // A learn the instance armed frames the slider until Esc, which it is told of; one
        // it finished is listed.
        library.Send(IntMessage(lv2::kUriLearnArmed, {{lv2::kUriSlider, VcfResonance}}));
        QCOMPARE(panel.Panel().MarkedForLearning(), std::optional<ControlId>(VcfResonance));
        QTest::keyClick(&panel, Qt::Key_Escape);
        QCOMPARE(panel.Panel().MarkedForLearning(), std::nullopt);
        library.Send(IntMessage(lv2::kUriLearnt, {{lv2::kUriSlider, VcfResonance},
                                                  {lv2::kUriController, 21},
                                                  {lv2::kUriTakenFrom, -1}}));
        QVERIFY(!list->findItems("CC21", Qt::MatchStartsWith).empty());

        list->setCurrentItem(list->findItems("CC20", Qt::MatchStartsWith).front());
        panel.midiWindow->removeButton->click();
        panel.midiWindow->defaultsButton->click();
        QCOMPARE(Messages(library.Received()), (std::vector<std::pair<std::uint32_t, int>>{
                                                   {Urid(lv2::kUriCancelLearn), -1},
                                                   {Urid(lv2::kUriForget), 20},
                                                   {Urid(lv2::kUriRestoreBindings), -1}}));
    }

    // Ctrl holds the instance's LFO gate while it is down, with the panel's keyboard; the
    // panel lets go of it when it loses the keyboard or closes, and says each change once.
    void passesTheCtrlKeyOn() {
        QTemporaryDir folder;
        Library library;
        PluginPanel panel(library.PanelEnd(), folder.filePath("morvane.ini").toStdString(), "T");
        library.Received();
        // The modifiers held before the event, as X11 tells them.
        const auto key = [&](QEvent::Type type, int code, Qt::KeyboardModifiers modifiers) {
            QTest::simulateEvent(&panel, type == QEvent::KeyPress, code, modifiers, {}, false);
        };
        const auto pressCtrl = [&] { key(QEvent::KeyPress, Qt::Key_Control, Qt::NoModifier); };
        QEvent deactivate(QEvent::WindowDeactivate);
        const struct {
            const char* what;
            std::function<void()> act;
            std::vector<int> held; // the Ctrl messages sent
        } steps[] = {
            {"press", pressCtrl, {1}},
            {"a note with Ctrl down",
             [&] {
                 key(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier);
                 key(QEvent::KeyRelease, Qt::Key_Z, Qt::ControlModifier);
             },
             {}},
            {"release",
             [&] { key(QEvent::KeyRelease, Qt::Key_Control, Qt::ControlModifier); },
             {0}},
            {"a note alone", [&] { QTest::keyClick(&panel, Qt::Key_Z); }, {}},
            {"press again", pressCtrl, {1}},
            {"keyboard lost", [&] { QCoreApplication::sendEvent(&panel, &deactivate); }, {0}},
            {"press once more", pressCtrl, {1}},
            {"closed", [&] { panel.close(); }, {0}},
        };
        for (const auto& step : steps) {
            step.act();
            std::vector<int> held;
            for (const auto& [type, value] : Messages(library.Received()))
                if (type == Urid(lv2::kUriCtrl))
                    held.push_back(value);
            QVERIFY2(held == step.held, step.what);
        }
    }
    // The panel speaks the language the program would: its own texts, the front panel's,
    // the MIDI window's and a settings file's message, Japanese unless English is chosen.
    void speaksTheProgramsLanguage_data() {
        QTest::addColumn<UiLanguage>("language");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("Japanese") << UiLanguage::Japanese
                                  << QStringList{"チューニング", "音色保存", "MIDI設定", "エラー",
                                                 "ファイル "};
        QTest::newRow("English") << UiLanguage::English
                                 << QStringList{"Tuning", "Save", "MIDI Settings", "Error",
                                                "The file "};
    }
    void speaksTheProgramsLanguage() {
        QFETCH(UiLanguage, language);
        QFETCH(QStringList, texts);
        QVERIFY(InstallTranslation(language));
        QTemporaryDir folder;
        Library library;
        // A folder in the settings file's place cannot be read: a preset load says so.
        PluginPanel panel(library.PanelEnd(), folder.path().toStdString(), "T");
        QTest::keyClick(&panel, Qt::Key_F2);
        const auto boxes = panel.findChildren<QMessageBox*>();
        QCOMPARE(boxes.size(), 1);
        const QStringList shown{panel.Panel().TuningGroup->title(),
                                panel.Panel().ButtonPresetSave->text(),
                                panel.midiWindow->windowTitle(), boxes.front()->windowTitle(),
                                boxes.front()->text().left(texts.back().size())};
        qDeleteAll(QCoreApplication::instance()->findChildren<QTranslator*>());
        QCOMPARE(shown, texts);
    }
};

QTEST_MAIN(PluginPanelTest)
#include "plugin_panel_test.moc"
