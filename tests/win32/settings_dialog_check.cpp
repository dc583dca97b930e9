// Runs the settings dialog of the module file LUMAFEX3.P as a host would:
// handler activation, create, then interface activation on this thread while
// a second thread finds the dialog, types into its boxes, clicks its boxes,
// radios and menu and presses OK. The record is then checked through the
// handler's save lines. A second run switches "Use Nulls" off and cancels; a
// third, without nulls, takes the picture of the dialog. Needs a display
// (the tests start Xvfb for it).
//
//   lumafex_dialog_check.exe [picture.png]
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <functional>
#include <vector>

#include "abi/host_interface.h"
#include "ui/control_ids.h"

namespace {

using namespace lumafex::ui;

int g_failures = 0;

void Check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok) ++g_failures;
}

// ---- The host: globals, one null object, scene lines ----------------------

DisplayInfo g_display{};
SceneInfo g_scene{};
int g_objectInfo = 0;
struct Item {
    const char* name;
    double v;
};
const Item kItems[] = {{"3Red%", 150.0}, {"3FlipFrame", 2.0}};
std::vector<std::string> g_lookups;

void* FirstItem(int32_t type, void*) {
    return type == 0 ? const_cast<Item*>(&kItems[0]) : nullptr;
}
void* NextItem(void* item) {
    const Item* next = static_cast<const Item*>(item) + 1;
    return next == std::end(kItems) ? nullptr : const_cast<Item*>(next);
}
const char* ItemName(void* item) { return static_cast<const Item*>(item)->name; }
void ItemVector(void* item, int32_t, double, double vector[3]) {
    vector[0] = vector[1] = 0.0;
    vector[2] = static_cast<const Item*>(item)->v;
}
ItemInfo g_items{FirstItem, NextItem, nullptr, nullptr, nullptr, nullptr,
                 nullptr,   nullptr,  ItemName, ItemVector};

void* Lookup(const char* name, int32_t) {
    g_lookups.emplace_back(name);
    if (std::strcmp(name, "Host Display Info") == 0) return &g_display;
    if (std::strcmp(name, "LW Scene Info") == 0) return &g_scene;
    if (std::strcmp(name, "LW Item Info") == 0) return &g_items;
    if (std::strcmp(name, "LW Object Info") == 0) return &g_objectInfo;
    return nullptr;
}

std::map<std::string, int> g_saved;
void WriteLine(void*, const char* text, int32_t) {
    char key[80] = {};
    int value = 0;
    if (std::sscanf(text, "%79s %d", key, &value) == 2) g_saved[key] = value;
}

std::map<std::string, int> SaveLines(const HandlerTable& table, void* instance) {
    g_saved.clear();
    SaveState state{0, nullptr, WriteLine};
    table.save(instance, &state);
    return g_saved;
}

// ---- Finding and driving the dialog --------------------------------------

HWND WaitForWindow(const char* caption, HWND owner, int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 50) {
        HWND found = nullptr;
        while ((found = FindWindowExA(nullptr, found, "#32770", caption)) != nullptr) {
            if (owner == nullptr || GetWindow(found, GW_OWNER) == owner) {
                // The window is found while its controls are still being
                // made; a sent message is answered only once its modal loop
                // runs, that is after initialisation.
                SendMessageA(found, WM_NULL, 0, 0);
                return found;
            }
        }
        Sleep(50);
    }
    return nullptr;
}

// Types text into an edit box as keystrokes would: the old text selected,
// then one character at a time.
void Type(HWND dialog, int id, const char* text) {
    HWND edit = GetDlgItem(dialog, id);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    for (const char* p = text; *p != '\0'; ++p) {
        SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(*p), 1);
    }
}

void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::string Text(HWND dialog, int id) {
    char buffer[64] = {};
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
}

std::string Caption(HWND window) {
    char buffer[128] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

BOOL CALLBACK KeepLongestText(HWND child, LPARAM found) {
    char buffer[512] = {};
    GetWindowTextA(child, buffer, sizeof buffer);
    auto& best = *reinterpret_cast<std::string*>(found);
    if (std::strlen(buffer) > best.size()) best = buffer;
    return TRUE;
}

// The longest text of a window's children: a message box's message.
std::string MessageText(HWND box) {
    std::string longest;
    EnumChildWindows(box, KeepLongestText, reinterpret_cast<LPARAM>(&longest));
    return longest;
}

// The tooltip window the dialog made for its controls, or null.
HWND ToolTipsOf(HWND dialog) {
    HWND found = nullptr;
    while ((found = FindWindowExA(nullptr, found, "tooltips_class32", nullptr)) != nullptr) {
        if (GetWindow(found, GW_OWNER) == dialog) return found;
    }
    return nullptr;
}

// ---- A picture of a window as PNG (stored deflate blocks) ----------------

uint32_t Crc32(const uint8_t* data, std::size_t size, uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutBig(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void Chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
    PutBig(png, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    PutBig(png, Crc32(body.data(), body.size()));
}

bool WritePng(const char* path, int width, int height, const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // no filter
        const auto* row = rgb.data() + static_cast<std::size_t>(y) * width * 3;
        raw.insert(raw.end(), row, row + static_cast<std::size_t>(width) * 3);
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    for (std::size_t pos = 0; pos < raw.size() || pos == 0;) {
        const std::size_t n = raw.size() - pos < 65535 ? raw.size() - pos : 65535;
        z.push_back(pos + n == raw.size() ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                 raw.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
        if (n == 0) break;
    }
    PutBig(z, (b << 16) | a);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBig(header, static_cast<uint32_t>(width));
    PutBig(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", {});
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && ok;
}

// The window as it shows on the screen.
bool Picture(HWND window, const char* path) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(700);
    RECT r;
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> bgra(static_cast<std::size_t>(width) * height * 4);
    const int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), bgra.data(), &info,
                               DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (rows != height) return false;
    std::vector<uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0, n = static_cast<std::size_t>(width) * height; i < n; ++i) {
        rgb[i * 3] = bgra[i * 4 + 2];
        rgb[i * 3 + 1] = bgra[i * 4 + 1];
        rgb[i * 3 + 2] = bgra[i * 4];
    }
    return WritePng(path, width, height, rgb);
}

// The user's side runs on a thread of its own while the dialog's modal
// loop runs on the main thread.
class UserThread {
public:
    explicit UserThread(std::function<void()> work) : work_(std::move(work)) {
        handle_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~UserThread() { join(); }
    void join() {
        if (handle_ == nullptr) return;
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    static DWORD WINAPI Run(void* self) {
        static_cast<UserThread*>(self)->work_();
        return 0;
    }
    std::function<void()> work_;
    HANDLE handle_ = nullptr;
};

// ---- The runs --------------------------------------------------------

const int kEveryControl[] = {
    kOkButton, kCancelButton, kRedPercentEdit, kRedPercentLabel, kGreenPercentEdit,
    kGreenPercentLabel, kBluePercentEdit, kBluePercentLabel, kBrightPercentEdit,
    kBrightPercentLabel, kGammaPercentEdit, kGammaPercentLabel, kContrastPercentEdit,
    kContrastPercentLabel, kBlurCheck, kBlurPercentEdit, kSofterCheck, kDOFBlurCheck,
    kDOFBlurPercentEdit, kFocalPointEdit, kFocalPointLabel, kEnhanceCheck, kEnhancePercentEdit,
    kAntialiasCheck, kAntialiasPercentEdit, kAntialiasThresholdEdit, kAntialiasThresholdLabel,
    kNoiseCheck, kNoisePercentEdit, kPosterizeCheck, kPosterizePercentEdit, kNtscLimitCheck,
    kBlackAndWhiteCheck, kNegativeCheck, kFlipFrameCheck, kFlipHorzRadio, kFlipVertRadio,
    kPassesEdit, kPassesLabel, kBlackCheck, kWhiteCheck, kNegativeAlphaCheck, kRangeAlphaCheck,
    kKeyPrepCheck, kKeyPrepBlackRadio, kKeyPrepWhiteRadio, kFullFrameRadio,
    kBackgroundOnlyRadio, kObjectsOnlyRadio, kShadowsOnlyRadio, kColourRangeRadio,
};

void EditAndConfirm(HWND host) {
    HWND dialog = WaitForWindow("Lumafex", nullptr, 20000);
    Check(dialog != nullptr, "the dialog opens");
    if (dialog == nullptr) return;
    Check(GetWindow(dialog, GW_OWNER) == host, "the host window owns the dialog");
    for (int id : kEveryControl) {
        Check(GetDlgItem(dialog, id) != nullptr, "control " + std::to_string(id) + " exists");
    }
    Check(!IsWindowVisible(GetDlgItem(dialog, kPassesEdit)), "the passes box is hidden");
    HMENU menu = GetMenu(dialog);
    Check((GetMenuState(menu, kMenuUseNulls, MF_BYCOMMAND) & MF_CHECKED) != 0,
          "\"Use Nulls\" is checked");
    Check(Text(dialog, kRedPercentEdit) == "150", "the 3Red% null shows 150");
    Check(!IsWindowEnabled(GetDlgItem(dialog, kRedPercentEdit)), "the Red% box is disabled");
    Check(IsDlgButtonChecked(dialog, kFlipHorzRadio) == BST_CHECKED &&
              IsDlgButtonChecked(dialog, kFlipVertRadio) == BST_CHECKED,
          "the 3FlipFrame null at 2 shows Horz and Vert");
    Check(Text(dialog, kGreenPercentEdit) == "100", "Green% shows the default");
    Check(IsDlgButtonChecked(dialog, kFullFrameRadio) == BST_CHECKED, "full frame is selected");
    HWND tips = ToolTipsOf(dialog);
    Check(tips != nullptr && SendMessageA(tips, TTM_GETTOOLCOUNT, 0, 0) >= 40,
          "the controls have tooltips");

    // Typing keeps to digits where a minus sign means nothing; a value the
    // record cannot hold is refused on OK with its reason, the dialog open.
    Type(dialog, kBluePercentEdit, "-5");
    Check(Text(dialog, kBluePercentEdit) == "5", "Blue% takes no minus sign");
    Type(dialog, kBluePercentEdit, "99999999999");
    PostMessageA(GetDlgItem(dialog, kOkButton), BM_CLICK, 0, 0);
    HWND refusal = WaitForWindow("Lumafex", dialog, 10000);
    Check(refusal != nullptr, "OK with Blue% out of range says why");
    if (refusal != nullptr) {
        const std::string why = MessageText(refusal);
        Check(why.find("Blue% must be a whole number from 0 to 2147483647") != std::string::npos,
              "the refusal names the box and its range: " + why);
        SendMessageA(refusal, WM_COMMAND, IDOK, 0);
        for (int w = 0; w < 100 && IsWindow(refusal); ++w) Sleep(50);
    }
    Check(IsWindowVisible(dialog) != FALSE, "the dialog stays open");
    Type(dialog, kBluePercentEdit, "100");

    Type(dialog, kGreenPercentEdit, "123");
    Type(dialog, kGammaPercentEdit, "-45");
    Type(dialog, kPassesEdit, "9");
    Click(dialog, kBlurCheck);
    Click(dialog, kSofterCheck);  // checked
    Click(dialog, kSofterCheck);  // third state
    Check(IsDlgButtonChecked(dialog, kSofterCheck) == BST_INDETERMINATE,
          "Softer takes its third state");
    Click(dialog, kNoiseCheck);
    Click(dialog, kKeyPrepCheck);
    Click(dialog, kKeyPrepWhiteRadio);
    Check(IsDlgButtonChecked(dialog, kKeyPrepBlackRadio) == BST_UNCHECKED, "W clears B");

    // The colour range radio opens the colour chooser twice; OK keeps each
    // bound.
    PostMessageA(GetDlgItem(dialog, kColourRangeRadio), BM_CLICK, 0, 0);
    for (int i = 0; i < 2; ++i) {
        HWND chooser = WaitForWindow(nullptr, dialog, 10000);
        Check(chooser != nullptr, "colour chooser " + std::to_string(i + 1) + " opens");
        if (chooser == nullptr) return;
        Check(Caption(chooser) == (i == 0 ? "Low colour" : "High colour"),
              "colour chooser " + std::to_string(i + 1) + " is titled " + Caption(chooser));
        SendMessageA(chooser, WM_COMMAND, IDOK, 0);
        for (int w = 0; w < 100 && IsWindow(chooser); ++w) Sleep(50);
    }
    Click(dialog, kBackgroundOnlyRadio);
    Check(IsDlgButtonChecked(dialog, kColourRangeRadio) == BST_UNCHECKED,
          "Background Only clears the colour range radio");

    Click(dialog, kOkButton);
}

void SwitchNullsOffAndCancel() {
    HWND dialog = WaitForWindow("Lumafex", nullptr, 20000);
    Check(dialog != nullptr, "the dialog opens again");
    if (dialog == nullptr) return;
    Check(Text(dialog, kGreenPercentEdit) == "123", "Green% shows the stored value");
    Type(dialog, kGreenPercentEdit, "77");
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kMenuUseNulls, 0), 0);
    Check((GetMenuState(GetMenu(dialog), kMenuUseNulls, MF_BYCOMMAND) & MF_CHECKED) == 0,
          "\"Use Nulls\" is unchecked");
    Click(dialog, kCancelButton);
}

}  // namespace

int main(int argc, char** argv) {
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, n < MAX_PATH ? n : 0);
    path.erase(path.find_last_of("\\/") + 1);
    path += "LUMAFEX3.P";
    HMODULE module = LoadLibraryA(path.c_str());
    Check(module != nullptr, "load " + path);
    if (module == nullptr) return 1;
    const auto* descriptor =
        reinterpret_cast<const ModuleDescriptor*>(GetProcAddress(module, "_mod_descrip"));
    Check(descriptor != nullptr, "_mod_descrip");
    if (descriptor == nullptr) return 1;
    const ServerRecord& handler = descriptor->servers[0];
    const ServerRecord& dialogServer = descriptor->servers[1];

    // The host's main window.
    HWND host = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                                nullptr, nullptr, nullptr);
    g_display.mainWindow = host;

    descriptor->startup();
    HandlerTable table{};
    Check(handler.activate(1, Lookup, &table, nullptr) == 0, "handler activation");
    void* instance = table.create(nullptr);

    const char* picture = argc > 1 ? argv[1] : nullptr;
    UserThread user([host] { EditAndConfirm(host); });
    Check(dialogServer.activate(1, Lookup, nullptr, nullptr) == 0,
          "interface activation returns 0 (OK)");
    user.join();

    auto saved = SaveLines(table, instance);
    // A control showing its null object's value stores nothing: the record
    // keeps its own value, which the null overrides at render time anyway.
    Check(saved["RedPercent"] == 100, "RedPercent keeps 100 under its null's 150");
    Check(saved["GreenPercent"] == 123, "GreenPercent 123 typed");
    Check(saved["GammaPercent"] == -45, "GammaPercent -45 typed");
    Check(saved["Passes"] == 4, "Passes 9 stored as 4");
    Check(saved["BlurFlag"] == 1, "BlurFlag 1");
    Check(saved["SofterBlurFlag"] == 2, "SofterBlurFlag 2");
    Check(saved["NoiseFlag"] == 1, "NoiseFlag 1");
    Check(saved["KeyPrepFlag"] == 2, "KeyPrepFlag 2 (W)");
    Check(saved["FlipFrameFlag"] == 0, "FlipFrameFlag keeps 0 under its null");
    Check(saved["FilterInclude"] == 1, "FilterInclude 1 (background only)");
    Check(saved["r1"] == 0 && saved["g1"] == 0 && saved["b1"] == 192 && saved["r2"] == 96 &&
              saved["g2"] == 96 && saved["b2"] == 255,
          "the colour range is kept through the choosers");

    g_lookups.clear();
    UserThread second(SwitchNullsOffAndCancel);
    Check(dialogServer.activate(1, Lookup, nullptr, nullptr) == 0,
          "interface activation returns 0 (Cancel)");
    second.join();
    saved = SaveLines(table, instance);
    Check(saved["GreenPercent"] == 123, "Cancel keeps GreenPercent");

    // With "Use Nulls" now off, the next start reads no null object (a
    // host's other globals, such as where the dialog reports how it ended,
    // are still asked for). The
    // picture is taken here: every control shows the stored value the first
    // run's OK kept, none is disabled for a null object.
    g_lookups.clear();
    UserThread third([picture] {
        HWND dialog = WaitForWindow("Lumafex", nullptr, 20000);
        Check(dialog != nullptr, "the dialog opens a third time");
        if (dialog != nullptr) {
            Check(IsWindowEnabled(GetDlgItem(dialog, kRedPercentEdit)) != FALSE,
                  "without nulls the Red% box is enabled");
            if (picture != nullptr)
                Check(Picture(dialog, picture), std::string("picture ") + picture);
            Click(dialog, kCancelButton);
        }
    });
    dialogServer.activate(1, Lookup, nullptr, nullptr);
    third.join();
    std::string looked;
    for (const std::string& name : g_lookups) looked += " \"" + name + "\"";
    Check(std::find(g_lookups.begin(), g_lookups.end(), "LW Item Info") == g_lookups.end(),
          "no null object read with \"Use Nulls\" off; looked up:" + looked);

    table.destroy(instance);
    DestroyWindow(host);
    std::printf("%s: %d failure(s)\n", g_failures == 0 ? "PASSED" : "FAILED", g_failures);
    return g_failures == 0 ? 0 : 1;
}
