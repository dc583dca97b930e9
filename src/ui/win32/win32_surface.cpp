#include "ui/win32/win32_surface.h"

#include <commctrl.h>
#include <commdlg.h>

#include <climits>
#include <string>

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
    // Open also offers every file, for a preset saved under another name;
    // Save adds ".lmx" to a name typed without an extension.
    ofn.lpstrFilter = kind == FileChooserKind::Save
                          ? "Lumafex Plug-in *.lmx\0*.lmx\0"
                          : "Lumafex Plug-in *.lmx\0*.lmx\0All files (*.*)\0*.*\0";
    ofn.lpstrDefExt = "lmx";
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

namespace {

// Gives the colour chooser its title once its window exists.
UINT_PTR CALLBACK TitleHook(HWND chooser, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* cc = reinterpret_cast<const CHOOSECOLORA*>(lParam);
        SetWindowTextA(chooser, reinterpret_cast<const char*>(cc->lCustData));
    }
    return 0;  // the chooser's own handling goes on
}

}  // namespace

std::optional<Colour> Win32Surface::ChooseColour(Colour initial, CustomColourTable& custom,
                                                 const char* title) {
    // The chooser's own table type; copied both ways so the module's table
    // keeps what the user changed.
    COLORREF table[16];
    for (std::size_t i = 0; i < 16; ++i) table[i] = custom[i];
    CHOOSECOLORA cc{};
    cc.lStructSize = sizeof cc;
    cc.hwndOwner = dialog_;
    cc.rgbResult = initial;
    cc.lpCustColors = table;
    cc.Flags = CC_FULLOPEN | CC_RGBINIT | CC_ENABLEHOOK;
    cc.lpfnHook = TitleHook;
    cc.lCustData = reinterpret_cast<LPARAM>(title);
    const BOOL chosen = ChooseColorA(&cc);
    for (std::size_t i = 0; i < 16; ++i) custom[i] = static_cast<Colour>(table[i]);
    if (!chosen) return std::nullopt;
    return static_cast<Colour>(cc.rgbResult & 0x00FFFFFFu);
}

void Win32Surface::SetToolTip(ControlId id, const char* text) {
    HWND control = GetDlgItem(dialog_, id);
    if (control == nullptr) return;
    if (toolTips_ == nullptr) {
        INITCOMMONCONTROLSEX init{sizeof init, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&init);
        toolTips_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                                    WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog_, nullptr,
                                    nullptr, nullptr);
        if (toolTips_ == nullptr) return;
        // Several lines, and long enough to read.
        SendMessageA(toolTips_, TTM_SETMAXTIPWIDTH, 0, 360);
        SendMessageA(toolTips_, TTM_SETDELAYTIME, TTDT_AUTOPOP, 20000);
    }
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;  // understood by every version of the control
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = dialog_;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    std::string copy = text;  // the control copies the text
    tool.lpszText = copy.data();
    SendMessageA(toolTips_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageA(toolTips_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32Surface::MarkInvalid(ControlId id, const char* problem) {
    const bool changed = problem != nullptr ? invalid_.insert(id).second : invalid_.erase(id) != 0;
    if (!changed) return;
    if (HWND control = GetDlgItem(dialog_, id)) InvalidateRect(control, nullptr, TRUE);
}

void Win32Surface::ShowMessage(const char* text, const char* caption, bool ownedByDialog) {
    MessageBoxA(ownedByDialog ? dialog_ : nullptr, text, caption, MB_OK);
}

void Win32Surface::ShowAbout(const char* text, const char* caption) {
    MessageBoxA(dialog_, text, caption, MB_OK | MB_ICONINFORMATION);
}

}  // namespace lumafex::ui
