#include <iostream>
#include <string_view>
#include <vector>

#include "plugin/bundle_files.h"
#include "tools/command_line.h"
#include "tools/render_job.h"
#include "tools/termination_cleanup.h"

using namespace morvane;

int main(int argc, char** argv) {
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    Result<CommandLine> parsed = ParseCommandLine(arguments);
    if (!parsed) {
        std::cerr << "morvane-render: " << parsed.error().message << "; " << kUsage << '\n';
        return kExitFailure;
    }
    const CommandLine& commandLine = *parsed;
    if (std::holds_alternative<ShowHelp>(commandLine)) {
        std::cout << kHelp;
        return kExitSuccess;
    }
    if (std::holds_alternative<ShowVersion>(commandLine)) {
        std::cout << VersionLine() << '\n';
        return kExitSuccess;
    }
    if (auto* presets = std::get_if<PresetExport>(&commandLine)) {
        Status exported = lv2::ExportPresets(presets->settingsFile, presets->folder);
        if (!exported) {
            std::cerr << "morvane-render: " << exported.error().message << '\n';
            return kExitFailure;
        }
        return kExitSuccess;
    }
    InstallTerminationCleanup();
    return RunRenderJob(std::get<RenderJob>(commandLine), std::cin, std::cout, std::cerr);
}
