#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// The volume button starts the desktop's mixer, whichever of the known ones is installed.
namespace morvane {

struct MixerCommand {
    QString program; // started with the arguments below
    QStringList arguments;
    QStringList alsoNeeded; // other programs the command runs, which must be installed too
};

// The mixers to try, the most wanted first.
std::vector<MixerCommand> DesktopMixers();

// Gives the full path of an installed program, or an empty string when there is none.
using ProgramFinder = std::function<QString(const QString& program)>;

// The first candidate whose programs are all installed, with its program replaced by
// the full path that was found; nothing when none is installed.
std::optional<MixerCommand> FindMixer(const std::vector<MixerCommand>& candidates,
                                      const ProgramFinder& find);

// Starts the first installed desktop mixer and returns at once; the mixer is neither
// waited for nor watched. When none is installed or it fails to start, nothing happens.
void LaunchMixer();

} // namespace morvane
