#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <utility>
#include <vector>

#include "ui/front_panel.h"
#include "ui/panel_widgets.h"

using namespace morvane;

namespace {

using Moves = std::vector<std::pair<ControlId, int>>;

} // namespace

// The panel on its own, as a window or a plugin's editor places it.
class FrontPanelTest : public QObject {
    Q_OBJECT
private slots:
    // What the panel is told it shows without reporting it back; what the user does it
    // reports once, as the control's new position, or as the click it was.
    void showsWhatItIsToldAndReportsTheUser() {
        QWidget window;
        FrontPanel panel(&window);
        Moves moved;
        connect(&panel, &FrontPanel::ControlMoved,
                [&](ControlId id, int position) { moved.emplace_back(id, position); });
        std::vector<QString> clicks;
        connect(&panel, &FrontPanel::TuningClicked,
                [&](bool up) { clicks.push_back(up ? "up" : "down"); });
        connect(&panel, &FrontPanel::PresetClicked,
                [&](int slot) { clicks.push_back(QString("F%1").arg(slot + 1)); });
        connect(&panel, &FrontPanel::PresetSaveClicked, [&] { clicks.push_back("save"); });

        auto* cutoff = static_cast<QScrollBar*>(panel.ControlWidget(VcfCutoff));
        auto* octave = static_cast<TRadioGroup*>(panel.ControlWidget(Wave1Octave));
        auto* envelope = static_cast<QCheckBox*>(panel.ControlWidget(UseVcfEnvelope));
        auto* triangle = panel.findChild<QRadioButton*>("RadioButtonModType0");
        auto* square = panel.findChild<QRadioButton*>("RadioButtonModType1");
        panel.PositionChanged(VcfCutoff, 70);
        panel.PositionChanged(Wave1Octave, 0);
        panel.PositionChanged(UseVcfEnvelope, 1);
        panel.PositionChanged(ModType, 1);
        QVERIFY(moved.empty());
        QCOMPARE(cutoff->value(), 70);
        QCOMPARE(octave->ItemIndex(), 0);
        QVERIFY(envelope->isChecked());
        QVERIFY(square->isChecked() && !triangle->isChecked());
        panel.PositionChanged(ModType, kNothingSelected);
        QVERIFY(!square->isChecked() && !triangle->isChecked());

        // A value that fits stands right-aligned; a wider one keeps its leading digits.
        QLabel* label = panel.ValueLabel(VcfCutoff);
        panel.LabelChanged(VcfCutoff, "348");
        QCOMPARE(label->text(), QString("348"));
        QVERIFY(label->alignment() & Qt::AlignRight);
        panel.LabelChanged(VcfCutoff, "10.3k");
        QVERIFY(label->alignment() & Qt::AlignLeft);
        panel.ShowTuning("440.2");
        QCOMPARE(panel.LabelTuning->text(), QString("440.2"));

        cutoff->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QTest::mouseClick(octave->Item(2), Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseClick(envelope, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseClick(triangle, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(moved,
                 (Moves{{VcfCutoff, 71}, {Wave1Octave, 2}, {UseVcfEnvelope, 0}, {ModType, 0}}));

        QTest::mouseClick(panel.UpDownTuning->DownButton(), Qt::LeftButton);
        QTest::mouseClick(panel.RadioPreset->Item(3), Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseClick(panel.ButtonPresetSave, Qt::LeftButton);
        QCOMPARE(clicks, (std::vector<QString>{"down", "F4", "save"}));
    }
};

QTEST_MAIN(FrontPanelTest)
#include "front_panel_test.moc"
