// The UI library as hosts call it, in the orders real hosts use: whatever the order, the UI
// tells a closed panel once, and leaves no process behind when hidden or cleaned up.

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include "plugin/external_ui.h"
#include "plugin/ports.h"

namespace fs = std::filesystem;
using morvane::lv2::ExternalUiHost;
using morvane::lv2::ExternalUiWidget;

namespace {

// A bundle whose panel reads its socket until the host's end closes, or, titled "dies",
// ends at once as a crashed panel does.
fs::path StandInBundle() {
    const fs::path bundle =
        fs::path(testing::TempDir()) / ("morvane-call-order-" + std::to_string(::getpid()));
    fs::create_directories(bundle);
    const fs::path program = bundle / "morvane-lv2-panel";
    std::ofstream(program) << "#!/bin/sh\n"
                              "[ \"$2\" = --title=dies ] && exit 0\n"
                              "exec cat <&3 >/dev/null\n";
    fs::permissions(program, fs::perms::owner_all);
    return bundle;
}

LV2_URID Map(LV2_URID_Map_Handle handle, const char* uri) {
    auto& uris = *static_cast<std::map<std::string, LV2_URID>*>(handle);
    return uris.emplace(uri, static_cast<LV2_URID>(uris.size() + 1)).first->second;
}

void Write(LV2UI_Controller, std::uint32_t, std::uint32_t, std::uint32_t, const void*) {}

// No child of this process is left, running or unreaped.
bool NoChildLeft() {
    return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

enum class Call { Show, Hide, Idle, PortEvent, WidgetShow, WidgetHide, WidgetRun, UntilClosed };

struct Host {
    const LV2UI_Descriptor* descriptor = nullptr;
    LV2UI_Handle ui = nullptr;
    ExternalUiWidget* widget = nullptr;
    const LV2UI_Show_Interface* show = nullptr;
    const LV2UI_Idle_Interface* idle = nullptr;
    int closedReports = 0;
    bool cleanUpOnClose = false;
    int lastIdle = 0;

    static void Closed(LV2UI_Controller controller) {
        auto* host = static_cast<Host*>(controller);
        ++host->closedReports;
        // Hosts that free the UI as soon as it says it closed.
        if (host->cleanUpOnClose) {
            host->descriptor->cleanup(host->ui);
            host->ui = nullptr;
        }
    }

    void Do(Call call) {
        const float value = 60;
        switch (call) {
        case Call::Show:
            show->show(ui);
            break;
        case Call::Hide:
            show->hide(ui);
            break;
        case Call::Idle:
            lastIdle = idle->idle(ui);
            break;
        case Call::PortEvent:
            descriptor->port_event(ui, morvane::lv2::kFirstControlPort, sizeof value, 0, &value);
            break;
        case Call::WidgetShow:
            widget->show(widget);
            break;
        case Call::WidgetHide:
            widget->hide(widget);
            break;
        case Call::WidgetRun:
            widget->run(widget);
            break;
        case Call::UntilClosed:
            for (int i = 0; i < 500 && ui && closedReports == 0; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                widget ? widget->run(widget) : void(lastIdle = idle->idle(ui));
            }
            break;
        }
    }
};

struct Case {
    const char* name;
    bool externalUiHost; // the host offers the external-UI feature
    const char* title;
    std::vector<Call> calls;
    int closedReports;
    int lastIdle; // what the last idle call returned
    bool cleanUpOnClose = false;
};

} // namespace

TEST(UiCallOrder, ClosesOnceAndLeavesNoProcess) {
    const fs::path bundle = StandInBundle();
    void* library = ::dlopen(MORVANE_LV2_BUNDLE "/morvane_ui.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    const auto entry =
        reinterpret_cast<LV2UI_DescriptorFunction>(::dlsym(library, "lv2ui_descriptor"));
    ASSERT_NE(entry, nullptr);
    using enum Call;
    const std::vector<Case> cases = {
        {"values before show; show, hide twice",
         true,
         "T",
         {PortEvent, Show, Show, Idle, Hide, Hide, Idle},
         0,
         0},
        {"idle before show; cleanup without hide", true, "T", {Idle, Show, PortEvent, Idle}, 0, 0},
        {"the widget's calls, run first",
         true,
         "T",
         {WidgetRun, WidgetShow, WidgetRun, WidgetHide, WidgetHide, WidgetRun},
         0,
         0},
        {"show without the external-UI feature", false, "T", {Show, Idle, Hide, Show}, 0, 0},
        {"a panel that dies, shown again",
         true,
         "dies",
         {Show, UntilClosed, Idle, Idle, Hide, Show, Hide},
         1,
         1},
        {"a host that cleans up when told", true, "dies", {WidgetShow, UntilClosed}, 1, 0, true},
    };
    for (const Case& c : cases) {
        std::map<std::string, LV2_URID> uris;
        LV2_URID_Map map{&uris, &Map};
        Host host;
        host.cleanUpOnClose = c.cleanUpOnClose;
        ExternalUiHost external{&Host::Closed, c.title};
        const LV2_Feature mapFeature{LV2_URID__map, &map};
        const LV2_Feature externalFeature{morvane::lv2::kExternalUiHost, &external};
        std::vector<const LV2_Feature*> features = {&mapFeature};
        if (c.externalUiHost)
            features.push_back(&externalFeature);
        features.push_back(nullptr);
        host.descriptor = entry(0);
        ASSERT_NE(host.descriptor, nullptr);
        LV2UI_Widget widget = nullptr;
        const std::string bundlePath = bundle.string() + "/";
        host.ui = host.descriptor->instantiate(host.descriptor, morvane::lv2::kPluginUri,
                                               bundlePath.c_str(), &Write, &host, &widget,
                                               features.data());
        ASSERT_NE(host.ui, nullptr) << c.name;
        host.widget = c.externalUiHost ? static_cast<ExternalUiWidget*>(widget) : nullptr;
        host.show = static_cast<const LV2UI_Show_Interface*>(
            host.descriptor->extension_data(LV2_UI__showInterface));
        host.idle = static_cast<const LV2UI_Idle_Interface*>(
            host.descriptor->extension_data(LV2_UI__idleInterface));
        for (const Call call : c.calls)
            host.Do(call);
        EXPECT_EQ(host.closedReports, c.closedReports) << c.name;
        EXPECT_EQ(host.lastIdle, c.lastIdle) << c.name;
        if (host.ui)
            host.descriptor->cleanup(host.ui);
        EXPECT_TRUE(NoChildLeft()) << c.name;
    }
    ::dlclose(library);
    fs::remove_all(bundle);
}
