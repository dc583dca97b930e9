#include "ui/win32/win32_surface.h"

#include <commdlg.h>

#include <climits>

namespace lumafex::ui {

void Win32Surface::SetText(ControlId id, const char* text) { SetDlgItemTextA(dialog_, id, text); }

void Win32Surface::GetText(ControlId id, char* buffer, std::size_t size) const {
    buffer[0] = '\0';
    const int room = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    // GetDlgItemTextA cuts the text to room - 1 characters and a zero.
    const UINT copied = GetDlgItemTextA(dialog_, id, buffer, room);
    buffer[copied < size ? copied : size - 1] = '\0';
}

void Win32Surface::SetCheckState(ControlId id, int state) {
    CheckDlgButton(dialog_, id, static_cast<UINT>(state));
}

int Win32Surface::GetCheckState(ControlId id) const {
    return static_cast<int>(IsDlgButtonChecked(dialog_, id));
}

void Win32Surface::SetRadioChecked(ControlId id, bool checked) {
    CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool Win32Surface::IsRadioChecked(ControlId id) const {
    return IsDlgButtonChecked(dialog_, id) == BST_CHECKED;
}

void Win32Surface::SetEnabled(ControlId id, bool enabled) {
    if (HWND control = GetDlgItem(dialog_, id)) EnableWindow(control, enabled ? TRUE : FALSE);
}

void Win32Surface::SetVisible(ControlId id, bool visible) {
    if (HWND control = GetDlgItem(dialog_, id)) ShowWindow(control, visible ? SW_SHOW : SW_HIDE);
}

void Win32Surface::SetMenuChecked(ControlId id, bool checked) {
    if (HMENU menu = GetMenu(dialog_)) {
        const UINT mark = checked ? MF_CHECKED : MF_UNCHECKED;
        CheckMenuItem(menu, static_cast<UINT>(id), MF_BYCOMMAND | mark);
    }
}

bool Win32Surface::IsMenuChecked(ControlId id) const {
    HMENU menu = GetMenu(dialog_);
    if (menu == nullptr) return false;
    const UINT state = GetMenuState(menu, static_cast<UINT>(id), MF_BYCOMMAND);
    return state != static_cast<UINT>(-1) && (state & MF_CHECKED) != 0;
}

std::optional<std::string> Win32Surface::ChooseFile(FileChooserKind kind) {
    char path[MAX_PATH] = "";
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = dialog_;
    ofn.lpstrFilter = "Lumafex Plug-in *.lmx\0*.lmx\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.Flags = OFN_HIDEREADONLY;
    BOOL chosen = FALSE;
    if (kind == FileChooserKind::Save) {
        ofn.Flags |= OFN_OVERWRITEPROMPT;
        chosen = GetSaveFileNameA(&ofn);
    } else {
        chosen = GetOpenFileNameA(&ofn);
    }
    if (!chosen || path[0] == '\0') return std::nullopt;
    return std::string(path);
}

std::optional<Colour> Win32Surface::ChooseColour(Colour initial, CustomColourTable& custom) {
    // The chooser's own table type; copied both ways so the module's table
    // keeps what the user changed.
    COLORREF table[16];
    for (std::size_t i = 0; i < 16; ++i) table[i] = custom[i];
    CHOOSECOLORA cc{};
    cc.lStructSize = sizeof cc;
    cc.hwndOwner = dialog_;
    cc.rgbResult = initial;
    cc.lpCustColors = table;
    cc.Flags = CC_FULLOPEN | CC_RGBINIT;
    const BOOL chosen = ChooseColorA(&cc);
    for (std::size_t i = 0; i < 16; ++i) custom[i] = static_cast<Colour>(table[i]);
    if (!chosen) return std::nullopt;
    return static_cast<Colour>(cc.rgbResult & 0x00FFFFFFu);
}

void Win32Surface::ShowMessage(const char* text, const char* caption, bool ownedByDialog) {
    MessageBoxA(ownedByDialog ? dialog_ : nullptr, text, caption, MB_OK);
}

}  // namespace lumafex::ui
