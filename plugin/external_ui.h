#pragma once

#include <lv2/ui/ui.h>

// The external kind of LV2 UI, which no header installed with LV2 declares: the widget the
// UI hands the host and the feature the host offers it, laid out as the hosts that show
// such UIs lay them out.
namespace morvane::lv2 {

inline constexpr const char* kExternalUiHost = "http://kxstudio.sf.net/ns/lv2ext/external-ui#Host";
// The name hosts of the first external UIs offered the same feature by.
inline constexpr const char* kOlderExternalUiHost = "http://lv2plug.in/ns/extensions/ui#external";

struct ExternalUiWidget {
    void (*run)(ExternalUiWidget* widget);
    void (*show)(ExternalUiWidget* widget);
    void (*hide)(ExternalUiWidget* widget);
};

struct ExternalUiHost {
    void (*ui_closed)(LV2UI_Controller controller);
    const char* plugin_human_id;
};

} // namespace morvane::lv2
