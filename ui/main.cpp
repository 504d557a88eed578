// The program entry: the command line, one instance per user, the main window with its
// start-up, the event loop, and the end once the window has closed.

#include <QApplication>
#include <QDir>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string_view>
#include <variant>
#include <vector>

#include "audio/audio_session.h"
#include "settings/file_locations.h"
#include "settings/ini_file.h"
#include "ui/display_check.h"
#include "ui/main_window.h"
#include "ui/nsm_client.h"
#include "ui/program_options.h"
#include "ui/signal_close.h"
#include "ui/single_instance.h"
#include "ui/translation.h"

namespace {

std::filesystem::path ToPath(const QString& directory) {
    return std::filesystem::path(QDir::toNativeSeparators(directory).toStdString());
}

morvane::FileLocations ProgramFileLocations() {
    return morvane::ChooseFileLocations({ToPath(QCoreApplication::applicationDirPath()),
                                         ToPath(QDir::homePath()),
                                         qEnvironmentVariable("XDG_CONFIG_HOME").toStdString(),
                                         qEnvironmentVariable("XDG_MUSIC_DIR").toStdString()});
}

// A session manager that starts the program names itself in NSM_URL and answers with
// the folder this client keeps its files in. A manager that cannot be reached or does
// not open a session leaves the program to start as it would on its own.
constexpr std::chrono::seconds kSessionOpenTimeout{10};

struct ManagedSession {
    std::unique_ptr<morvane::NsmClient> client;
    morvane::NsmClient::Session session;
};

std::optional<ManagedSession> JoinSessionManager(const char* executable) {
    const QString url = qEnvironmentVariable("NSM_URL");
    if (url.isEmpty())
        return std::nullopt;
    auto connected = morvane::NsmClient::Connect(url.toStdString());
    if (!connected) {
        std::cerr << "morvane: " << connected.error().message << "; starting on its own\n";
        return std::nullopt;
    }
    std::unique_ptr<morvane::NsmClient> client = std::move(*connected);
    auto opened = client->Open(executable, kSessionOpenTimeout);
    if (!opened) {
        std::cerr << "morvane: " << opened.error().message << "; starting on its own\n";
        return std::nullopt;
    }
    return ManagedSession{std::move(client), *opened};
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    const morvane::Result<morvane::ProgramCommandLine> parsed =
        morvane::ParseProgramCommandLine(arguments);
    if (!parsed) {
        std::cerr << "morvane: " << parsed.error().message << "\n\n" << morvane::ProgramUsage();
        return morvane::kExitUsage;
    }
    const morvane::ProgramCommandLine& commandLine = *parsed;
    if (std::holds_alternative<morvane::PrintUsage>(commandLine)) {
        std::cout << morvane::ProgramUsage();
        return morvane::kExitSuccess;
    }
    if (std::holds_alternative<morvane::PrintVersion>(commandLine)) {
        std::cout << morvane::ProgramVersion() << '\n';
        return morvane::kExitSuccess;
    }
    const morvane::StartOptions& options = std::get<morvane::StartOptions>(commandLine);
    const morvane::AudioChoice audio = options.audio;
    if (const std::optional<std::string> missing = morvane::MissingDisplay()) {
        std::cerr << "morvane: " << *missing << '\n';
        return morvane::kExitNoDisplay;
    }

    QApplication application(argc, argv);
    QCoreApplication::setApplicationName("morvane");
    if (const morvane::Status translated = morvane::InstallTranslation(
            options.language.value_or(morvane::LocaleLanguage(&std::getenv)));
        !translated)
        std::cerr << "morvane: " << translated.error().message << '\n';

    // Each client of a session is an instance of its own, whatever else runs.
    std::optional<ManagedSession> managed = JoinSessionManager(argv[0]);
    morvane::SingleInstance instance;
    if (!managed && !instance.Claim()) {
        std::cerr << (instance.RunningInstanceAnswered()
                          ? "morvane: Morvane is already running; its window was brought to "
                            "the front\n"
                          : "morvane: Morvane is already running, but did not answer the request "
                            "to bring its window to the front\n");
        return morvane::kExitSuccess;
    }

    const morvane::FileLocations files =
        managed ? morvane::FileLocations{morvane::SettingsFilePath(managed->session.directory),
                                         managed->session.directory}
                : ProgramFileLocations();
    morvane::MainWindowSetup setup{audio.latency == morvane::Latency::Classic
                                       ? morvane::ClassicSession()
                                       : morvane::LowLatencySession(audio.output),
                                   files.settingsFile,
                                   files.recordingDirectory,
                                   {},
                                   options.midiChannel,
                                   true};
    if (managed)
        setup.audio.output.jackClientName = managed->session.clientId;
    morvane::MainWindow window(std::move(setup));
    instance.SetShowRequestHandler([&window] { morvane::BringToFront(window); });
    morvane::SignalClose signalClose([&window] { window.CloseForSignal(); });
    if (const morvane::Status caught = signalClose.Install(); !caught)
        std::cerr << "morvane: " << caught.error().message << '\n';
    window.show();
    if (managed) {
        managed->client->SetSaveHandler([&window] { return window.SaveSettings(); });
        managed->client->ReplyOpen({});
    }
    const int status = QApplication::exec();
    signalClose.IgnoreFromNow();
    return status;
}
