#include "ui/midi_learn_menu.h"

#include <QCoreApplication>

#include "midi/controller_bindings.h"

namespace morvane {

namespace {

QString Text(const char* utf8) {
    return QCoreApplication::translate("morvane::MidiLearnMenu", utf8);
}

} // namespace

QMenu* MidiLearnMenu(QWidget* parent, std::optional<int> boundController,
                     const std::function<void()>& learn, const std::function<void()>& forget) {
    auto* menu = new QMenu(parent);
    QObject::connect(menu->addAction(Text(QT_TRANSLATE_NOOP("morvane::MidiLearnMenu", "MIDI学習"))),
                     &QAction::triggered, menu, learn);
    QAction* forgetAction =
        menu->addAction(Text(QT_TRANSLATE_NOOP("morvane::MidiLearnMenu", "MIDI学習を解除")));
    forgetAction->setEnabled(boundController.has_value());
    QObject::connect(forgetAction, &QAction::triggered, menu, forget);
    const QString boundTo =
        boundController
            ? Text(QT_TRANSLATE_NOOP("morvane::MidiLearnMenu", "割り当て: %1"))
                  .arg(QString::fromStdString(ControllerBindings::KeyOf(*boundController)))
            : Text(QT_TRANSLATE_NOOP("morvane::MidiLearnMenu", "割り当て: なし"));
    menu->addAction(boundTo)->setEnabled(false);
    return menu;
}

} // namespace morvane
