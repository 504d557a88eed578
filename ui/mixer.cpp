#include "ui/mixer.h"

#include <QProcess>
#include <QStandardPaths>

#include <algorithm>

namespace morvane {

std::vector<MixerCommand> DesktopMixers() {
    return {
        {"pavucontrol", {}, {}},    // PulseAudio, and PipeWire through its Pulse server
        {"pwvucontrol", {}, {}},    // PipeWire
        {"pavucontrol-qt", {}, {}}, // LXQt
        // The console mixer needs a terminal to run in.
        {"x-terminal-emulator", {"-e", "alsamixer"}, {"alsamixer"}},
    };
}

std::optional<MixerCommand> FindMixer(const std::vector<MixerCommand>& candidates,
                                      const ProgramFinder& find) {
    for (const MixerCommand& candidate : candidates) {
        const QString path = find(candidate.program);
        const bool complete =
            !path.isEmpty() && std::ranges::all_of(candidate.alsoNeeded, [&](const QString& p) {
                return !find(p).isEmpty();
            });
        if (complete) {
            MixerCommand found = candidate;
            found.program = path;
            return found;
        }
    }
    return std::nullopt;
}

void LaunchMixer() {
    const auto mixer = FindMixer(DesktopMixers(), [](const QString& program) {
        return QStandardPaths::findExecutable(program);
    });
    // A mixer that does not start is not worth a message: the sound plays on regardless.
    if (mixer)
        QProcess::startDetached(mixer->program, mixer->arguments);
}

} // namespace morvane
