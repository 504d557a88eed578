// The plugin's panel program, started by the UI library in the host with its end of a
// socket: morvane-lv2-panel --socket=FD [--title=TEXT]. It ends when the socket closes or
// its window does.

#include <fcntl.h>

#include <QApplication>
#include <QDir>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "plugin/ui_link.h"
#include "settings/file_locations.h"
#include "ui/plugin_panel.h"
#include "ui/translation.h"

namespace {

std::optional<int> SocketOption(std::string_view argument) {
    const std::string_view option = morvane::lv2::kPanelSocketOption;
    if (!argument.starts_with(option))
        return std::nullopt;
    argument.remove_prefix(option.size());
    int socket = -1;
    const auto [end, error] =
        std::from_chars(argument.data(), argument.data() + argument.size(), socket);
    if (error != std::errc{} || end != argument.data() + argument.size() || socket < 0)
        return std::nullopt;
    return socket;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    // The language the program would speak in the host's environment: a host started from
    // an English desktop gets an English panel.
    if (const morvane::Status translated =
            morvane::InstallTranslation(morvane::LocaleLanguage(&std::getenv));
        !translated)
        std::fprintf(stderr, "%s: %s\n", argv[0], translated.error().message.c_str());
    std::optional<int> socket;
    QString title = "Morvane";
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.starts_with(morvane::lv2::kPanelTitleOption))
            title = QString::fromUtf8(
                argument.substr(std::string_view(morvane::lv2::kPanelTitleOption).size()));
        else
            socket = SocketOption(argument);
    }
    if (!socket || ::fcntl(*socket, F_GETFD) < 0) {
        std::fprintf(stderr, "%s: the panel of the Morvane plugin, started by its host\n", argv[0]);
        return 2;
    }
    ::fcntl(*socket, F_SETFD, FD_CLOEXEC);
    const std::filesystem::path settingsFile =
        morvane::InstalledSettingsFile({{},
                                        QDir::homePath().toStdString(),
                                        qEnvironmentVariable("XDG_CONFIG_HOME").toStdString(),
                                        {}});
    morvane::PluginPanel panel(*socket, settingsFile, title);
    panel.show();
    return application.exec();
}
