// The settings dialog on Windows: the template "DIALOGBOXMAIN" of this
// module, run modally and owned by the host's main window, with the
// controller behind it.
#include <windows.h>

#include <optional>

#include "platform/messages.h"
#include "ui/dialog_controller.h"
#include "ui/field_limits.h"
#include "ui/settings_dialog.h"
#include "ui/win32/win32_surface.h"

namespace lumafex {

namespace {

// What one run of the dialog works with; the surface and controller are
// made once the window exists.
struct RunningDialog {
    ui::DialogModel model{};
    std::optional<ui::Win32Surface> surface;
    std::optional<ui::DialogController> controller;
    HBRUSH invalidBrush = nullptr;
};

// The background of an edit box holding a value that cannot be stored.
constexpr COLORREF kInvalidBackground = RGB(255, 208, 208);

// Number boxes take digits only where a minus sign means nothing; the
// others are checked as their text changes.
void LimitTyping(HWND dialog) {
    for (const ui::DialogField& row : ui::kDialogFields) {
        if (!ui::HasLimits(row)) continue;
        HWND edit = GetDlgItem(dialog, row.id);
        if (edit == nullptr || row.min < 0) continue;
        SetWindowLongA(edit, GWL_STYLE, GetWindowLongA(edit, GWL_STYLE) | ES_NUMBER);
    }
}

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            auto* running = reinterpret_cast<RunningDialog*>(lParam);
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            running->surface.emplace(dialog);
            running->controller.emplace(*running->surface, running->model);
            LimitTyping(dialog);
            running->controller->Start();
            return TRUE;
        }
        case WM_CTLCOLOREDIT: {
            auto* running = reinterpret_cast<RunningDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
            const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            if (running == nullptr || !running->surface || !running->surface->IsInvalid(id))
                return FALSE;
            if (running->invalidBrush == nullptr)
                running->invalidBrush = CreateSolidBrush(kInvalidBackground);
            SetBkColor(reinterpret_cast<HDC>(wParam), kInvalidBackground);
            return reinterpret_cast<INT_PTR>(running->invalidBrush);
        }
        case WM_COMMAND: {
            auto* running = reinterpret_cast<RunningDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
            if (running == nullptr || !running->controller) return FALSE;
            // An edit box's text changed: check it as the user types.
            if (HIWORD(wParam) == EN_CHANGE && lParam != 0) {
                running->controller->CheckNumber(LOWORD(wParam));
                return TRUE;
            }
            // Menu choices and button clicks; other edit box notifications
            // are not commands of the dialog.
            if (HIWORD(wParam) != BN_CLICKED && lParam != 0) return FALSE;
            switch (running->controller->Command(LOWORD(wParam))) {
                case ui::CommandResult::CloseOk:
                    EndDialog(dialog, 1);
                    return TRUE;
                case ui::CommandResult::CloseCancel:
                    EndDialog(dialog, 0);
                    return TRUE;
                case ui::CommandResult::Handled:
                    return TRUE;
                case ui::CommandResult::NotHandled:
                    return FALSE;
            }
            return FALSE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

bool ui::DialogShowsPreview() { return false; }

bool ui::RunSettingsDialog(const ui::DialogModel& model) {
    RunningDialog running;
    running.model = model;
    if (running.model.settings == nullptr) {
        platform::ShowMessage(platform::kOutOfMemoryText, platform::kOutOfMemoryCaption);
        return false;
    }
    const INT_PTR result = DialogBoxParamA(static_cast<HINSTANCE>(model.resourceModule),
                                           "DIALOGBOXMAIN", static_cast<HWND>(model.ownerWindow),
                                           SettingsDialogProc, reinterpret_cast<LPARAM>(&running));
    if (running.invalidBrush != nullptr) DeleteObject(running.invalidBrush);
    // -1: the template could not be found or the dialog not created.
    return result != -1;
}

}  // namespace lumafex
