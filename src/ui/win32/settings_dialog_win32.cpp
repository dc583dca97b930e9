// The settings dialog on Windows: the template "DIALOGBOXMAIN" of this
// module, run modally and owned by the host's main window, with the
// controller behind it.
#include <windows.h>

#include <optional>

#include "platform/messages.h"
#include "ui/dialog_controller.h"
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
};

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            auto* running = reinterpret_cast<RunningDialog*>(lParam);
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            running->surface.emplace(dialog);
            running->controller.emplace(*running->surface, running->model);
            running->controller->Start();
            return TRUE;
        }
        case WM_COMMAND: {
            auto* running = reinterpret_cast<RunningDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
            if (running == nullptr || !running->controller) return FALSE;
            // Menu choices and button clicks; edit box notifications are not
            // commands of the dialog.
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

bool RunSettingsDialog(Module& module) {
    RunningDialog running;
    running.model = ui::ModuleDialogModel(module);
    if (running.model.settings == nullptr) {
        platform::ShowMessage(ui::kOutOfMemoryText, ui::kOutOfMemoryCaption);
        return false;
    }
    const INT_PTR result = DialogBoxParamA(static_cast<HINSTANCE>(module.instanceHandle),
                                           "DIALOGBOXMAIN", static_cast<HWND>(module.hostWindow),
                                           SettingsDialogProc, reinterpret_cast<LPARAM>(&running));
    // -1: the template could not be found or the dialog not created.
    return result != -1;
}

}  // namespace lumafex
