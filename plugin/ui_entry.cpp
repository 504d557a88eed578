// The UI's C face in the host: an external-kind UI whose panel is a program of its own, so
// that no toolkit enters the host's process. The host's calls are relayed to the panel
// over a socket, the panel's port writes come back on the host's idle calls, and a panel
// that has gone is reported as the UI closed.

#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <string>

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include "plugin/external_ui.h"
#include "plugin/panel_process.h"
#include "plugin/ports.h"
#include "plugin/ui_link.h"

namespace {

using morvane::lv2::ExternalUiHost;
using morvane::lv2::ExternalUiWidget;
using morvane::lv2::LinkKind;
using morvane::lv2::PanelProcess;
using morvane::lv2::ReceivedLink;

const void* FindFeature(const LV2_Feature* const* features, const char* uri) {
    for (; features && *features; ++features)
        if (std::strcmp((*features)->URI, uri) == 0)
            return (*features)->data;
    return nullptr;
}

class PanelUi;

// What the host holds as the widget: the callbacks, then the way back to the UI.
struct WidgetBox {
    ExternalUiWidget widget;
    PanelUi* ui;
};

class PanelUi {
public:
    PanelUi(std::string program, LV2UI_Write_Function write, LV2UI_Controller controller,
            const LV2_URID_Map& map, const ExternalUiHost* host)
        : program_(std::move(program)), write_(write), controller_(controller), host_(host),
          eventTransfer_(map.map(map.handle, LV2_ATOM__eventTransfer)) {
        for (int i = 0; i < morvane::lv2::kLinkUriCount; ++i)
            urids_[i] = map.map(map.handle, morvane::lv2::kLinkUris[i]);
        box_.widget = {&PanelUi::RunWidget, &PanelUi::ShowWidget, &PanelUi::HideWidget};
        box_.ui = this;
    }

    ExternalUiWidget* Widget() { return &box_.widget; }

    // The panel starts with the values the host has told so far.
    bool Show() {
        if (panel_)
            return true;
        const char* title = host_ && host_->plugin_human_id ? host_->plugin_human_id : "Morvane";
        morvane::Result<std::unique_ptr<PanelProcess>> started =
            PanelProcess::Start(program_, title);
        if (!started) {
            std::fprintf(stderr, "morvane.lv2: cannot open the panel: %s\n",
                         started.error().message.c_str());
            return false;
        }
        panel_ = std::move(*started);
        closed_ = false;
        panel_->Send(morvane::lv2::LinkMessage(
            LinkKind::Urids, 0,
            std::span(reinterpret_cast<const std::uint8_t*>(urids_), sizeof urids_)));
        for (const auto& [port, value] : values_)
            panel_->Send(morvane::lv2::PortValueMessage(port, value));
        return true;
    }

    void Hide() { panel_.reset(); }

    // Non-zero once the panel has gone, as the idle interface reports a closed UI. A host
    // may clean the UI up inside ui_closed: nothing of it is touched after that call.
    int Idle() {
        if (panel_ && !panel_->Receive([this](const ReceivedLink& link) { Write(link); })) {
            panel_.reset();
            closed_ = true;
            if (host_ && host_->ui_closed) {
                host_->ui_closed(controller_);
                return 1;
            }
        }
        return closed_ ? 1 : 0;
    }

    void PortEvent(std::uint32_t port, std::uint32_t size, std::uint32_t format,
                   const void* buffer) {
        if (format == 0 && size == sizeof(float)) {
            float value;
            std::memcpy(&value, buffer, sizeof value);
            values_[port] = value;
            if (panel_)
                panel_->Send(morvane::lv2::PortValueMessage(port, value));
        } else if (format == eventTransfer_ && panel_ && size >= sizeof(LV2_Atom) &&
                   size <= morvane::lv2::kLinkMessageLimit - sizeof(morvane::lv2::LinkHeader)) {
            panel_->Send(morvane::lv2::LinkMessage(
                LinkKind::PortAtom, port,
                std::span(static_cast<const std::uint8_t*>(buffer), size)));
        }
    }

private:
    // The host takes the panel's word for neither the port nor an atom's size: a value
    // goes only to a control input, and an atom, whole, to the MIDI or the message input.
    void Write(const ReceivedLink& link) {
        const auto port = static_cast<int>(link.header.port);
        if (const std::optional<float> value = link.Value()) {
            if (!morvane::lv2::TakesValues(port))
                return;
            values_[link.header.port] = *value;
            write_(controller_, link.header.port, sizeof(float), 0, &*value);
        } else if (const auto atom = link.Atom(); atom && morvane::lv2::TakesAtoms(port)) {
            write_(controller_, link.header.port, static_cast<std::uint32_t>(atom->size()),
                   eventTransfer_, atom->data());
        }
    }

    static PanelUi* Of(ExternalUiWidget* widget) {
        return reinterpret_cast<WidgetBox*>(widget)->ui;
    }
    static void RunWidget(ExternalUiWidget* widget) { Of(widget)->Idle(); }
    static void ShowWidget(ExternalUiWidget* widget) { Of(widget)->Show(); }
    static void HideWidget(ExternalUiWidget* widget) { Of(widget)->Hide(); }

    std::string program_;
    LV2UI_Write_Function write_;
    LV2UI_Controller controller_;
    const ExternalUiHost* host_;
    LV2_URID eventTransfer_;
    LV2_URID urids_[morvane::lv2::kLinkUriCount];
    WidgetBox box_{};
    // The control values the host told or the panel wrote, for a panel opened later.
    std::map<std::uint32_t, float> values_;
    std::unique_ptr<PanelProcess> panel_;
    bool closed_ = false;
};

PanelUi* Ui(LV2UI_Handle handle) {
    return static_cast<PanelUi*>(handle);
}

LV2UI_Handle Instantiate(const LV2UI_Descriptor*, const char*, const char* bundlePath,
                         LV2UI_Write_Function write, LV2UI_Controller controller,
                         LV2UI_Widget* widget, const LV2_Feature* const* features) {
    const auto* map = static_cast<const LV2_URID_Map*>(FindFeature(features, LV2_URID__map));
    if (!map || !bundlePath) {
        std::fprintf(stderr, "morvane.lv2: the host offers no %s\n", LV2_URID__map);
        return nullptr;
    }
    const void* host = FindFeature(features, morvane::lv2::kExternalUiHost);
    if (!host)
        host = FindFeature(features, morvane::lv2::kOlderExternalUiHost);
    try {
        std::string program = bundlePath;
        if (!program.empty() && program.back() != '/')
            program += '/';
        auto ui =
            std::make_unique<PanelUi>(program + morvane::lv2::kPanelProgram, write, controller,
                                      *map, static_cast<const ExternalUiHost*>(host));
        if (widget)
            *widget = ui->Widget();
        return ui.release();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "morvane.lv2: %s\n", error.what());
        return nullptr;
    }
}

void Cleanup(LV2UI_Handle handle) {
    delete Ui(handle);
}

void PortEvent(LV2UI_Handle handle, std::uint32_t port, std::uint32_t size, std::uint32_t format,
               const void* buffer) {
    Ui(handle)->PortEvent(port, size, format, buffer);
}

int Idle(LV2UI_Handle handle) {
    return Ui(handle)->Idle();
}

int Show(LV2UI_Handle handle) {
    return Ui(handle)->Show() ? 0 : 1;
}

int Hide(LV2UI_Handle handle) {
    Ui(handle)->Hide();
    return 0;
}

const LV2UI_Idle_Interface kIdle = {Idle};
const LV2UI_Show_Interface kShow = {Show, Hide};

const void* ExtensionData(const char* uri) {
    if (std::strcmp(uri, LV2_UI__idleInterface) == 0)
        return &kIdle;
    if (std::strcmp(uri, LV2_UI__showInterface) == 0)
        return &kShow;
    return nullptr;
}

const LV2UI_Descriptor kDescriptor = {
    morvane::lv2::kUiUri, Instantiate, Cleanup, PortEvent, ExtensionData,
};

} // namespace

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
