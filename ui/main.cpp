// The program entry: the command line, one instance per user, the main window with its
// start-up, the event loop, and the end once the window has closed.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string_view>
#include <variant>
#include <vector>

#include "audio/portaudio_wave_out.h"
#include "settings/ini_file.h"
#include "ui/main_window.h"
#include "ui/program_options.h"
#include "ui/signal_close.h"
#include "ui/single_instance.h"

namespace {

std::filesystem::path ToPath(const QString& directory) {
    return std::filesystem::path(QDir::toNativeSeparators(directory).toStdString());
}

// The settings file and the recordings live beside the executable. An installed program
// cannot write there; it keeps them where the desktop keeps a user's settings and music.
QString ExecutableDirectoryIfWritable() {
    const QString directory = QCoreApplication::applicationDirPath();
    return QFileInfo(directory).isWritable() ? directory : QString();
}

std::filesystem::path SettingsFile() {
    QString directory = ExecutableDirectoryIfWritable();
    if (directory.isEmpty()) {
        directory = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
        QDir().mkpath(directory);
    }
    return morvane::SettingsFilePath(ToPath(directory));
}

std::filesystem::path RecordingDirectory() {
    QString directory = ExecutableDirectoryIfWritable();
    if (directory.isEmpty())
        directory = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (directory.isEmpty() || !QDir().mkpath(directory))
        directory = QDir::homePath();
    return ToPath(directory);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    const morvane::ProgramCommandLine commandLine = morvane::ParseProgramCommandLine(arguments);
    if (const auto* error = std::get_if<morvane::OptionError>(&commandLine)) {
        std::cerr << "morvane: " << error->message << "\n\n" << morvane::ProgramUsage();
        return morvane::kExitUsage;
    }
    if (std::holds_alternative<morvane::PrintUsage>(commandLine)) {
        std::cout << morvane::ProgramUsage();
        return morvane::kExitSuccess;
    }
    if (std::holds_alternative<morvane::PrintVersion>(commandLine)) {
        std::cout << morvane::ProgramVersion() << '\n';
        return morvane::kExitSuccess;
    }

    QApplication application(argc, argv);
    QCoreApplication::setApplicationName("morvane");

    morvane::SingleInstance instance;
    if (!instance.Claim())
        return 0;

    auto device = std::make_unique<morvane::PortAudioWaveOut>();
    device->DeliverThroughEventLoop();
    morvane::TForm1 window({std::move(device), SettingsFile(), RecordingDirectory(), {}});
    instance.SetShowRequestHandler([&window] { morvane::BringToFront(window); });
    morvane::SignalClose signalClose([&window] { morvane::CloseOnSignal(window); });
    if (const morvane::Status caught = signalClose.Install(); !caught)
        std::cerr << "morvane: " << caught.error().message << '\n';
    window.show();
    const int status = QApplication::exec();
    signalClose.IgnoreFromNow();
    return status;
}
