// The settings dialog's controls held in memory, with scripted answers for
// the file and colour choosers and a record of every message box.
#pragma once

#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/control_surface.h"

namespace lumafex::testing {

class MemorySurface : public ui::ControlSurface {
public:
    struct Message {
        std::string text;
        std::string caption;
        bool ownedByDialog;
        bool information = false;  // the About box
    };
    struct ColourRequest {
        ui::Colour initial;
        ui::CustomColourTable* custom;
        std::string title;
    };

    // What a control shows; unset controls read as empty and unchecked.
    std::map<ui::ControlId, std::string> text;
    std::map<ui::ControlId, int> check;
    std::map<ui::ControlId, bool> radio;
    std::map<ui::ControlId, bool> enabled;  // absent: enabled
    std::map<ui::ControlId, bool> visible;  // absent: visible
    std::map<ui::ControlId, bool> menu;
    std::map<ui::ControlId, std::string> toolTip;
    std::map<ui::ControlId, std::string> invalid;  // boxes shown as invalid, and why
    std::map<ui::ControlId, std::string> driven;   // controls shown as driven, and by what

    // Scripted answers, taken in order; an empty optional is a cancel.
    std::deque<std::optional<std::string>> fileAnswers;
    std::deque<std::optional<ui::Colour>> colourAnswers;
    std::vector<ui::FileChooserKind> fileRequests;
    std::vector<ColourRequest> colourRequests;
    std::vector<Message> messages;

    void SetText(ui::ControlId id, const char* t) override { text[id] = t; }
    void GetText(ui::ControlId id, char* buffer, std::size_t size) const override {
        const auto it = text.find(id);
        const std::string value = it == text.end() ? std::string() : it->second;
        const std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
        std::memcpy(buffer, value.data(), n);
        buffer[n] = '\0';
    }
    void SetCheckState(ui::ControlId id, int state) override { check[id] = state; }
    int GetCheckState(ui::ControlId id) const override {
        const auto it = check.find(id);
        return it == check.end() ? 0 : it->second;
    }
    void SetRadioChecked(ui::ControlId id, bool on) override { radio[id] = on; }
    bool IsRadioChecked(ui::ControlId id) const override {
        const auto it = radio.find(id);
        return it != radio.end() && it->second;
    }
    void SetEnabled(ui::ControlId id, bool on) override { enabled[id] = on; }
    void SetVisible(ui::ControlId id, bool on) override { visible[id] = on; }
    void SetMenuChecked(ui::ControlId id, bool on) override { menu[id] = on; }
    bool IsMenuChecked(ui::ControlId id) const override {
        const auto it = menu.find(id);
        return it != menu.end() && it->second;
    }
    std::optional<std::string> ChooseFile(ui::FileChooserKind kind) override {
        fileRequests.push_back(kind);
        if (fileAnswers.empty()) throw std::logic_error("unexpected file chooser");
        auto answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
    std::optional<ui::Colour> ChooseColour(ui::Colour initial, ui::CustomColourTable& custom,
                                           const char* title) override {
        colourRequests.push_back({initial, &custom, title});
        if (colourAnswers.empty()) throw std::logic_error("unexpected colour chooser");
        auto answer = colourAnswers.front();
        colourAnswers.pop_front();
        return answer;
    }
    void ShowMessage(const char* t, const char* caption, bool owned) override {
        messages.push_back({t, caption, owned});
    }
    void ShowAbout(const char* t, const char* caption) override {
        messages.push_back({t, caption, true, true});
    }
    void SetToolTip(ui::ControlId id, const char* t) override { toolTip[id] = t; }
    void MarkDriven(ui::ControlId id, const char* channel) override { driven[id] = channel; }
    void MarkInvalid(ui::ControlId id, const char* problem) override {
        if (problem != nullptr) invalid[id] = problem;
        else invalid.erase(id);
    }

    bool IsEnabled(ui::ControlId id) const {
        const auto it = enabled.find(id);
        return it == enabled.end() || it->second;
    }
    bool IsVisible(ui::ControlId id) const {
        const auto it = visible.find(id);
        return it == visible.end() || it->second;
    }
    // The user selects one radio of a group: the others of the group clear.
    void Select(ui::ControlId id, std::initializer_list<ui::ControlId> group) {
        for (ui::ControlId other : group) radio[other] = false;
        radio[id] = true;
    }
};

}  // namespace lumafex::testing
