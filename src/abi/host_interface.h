// The host's plug-in interface as this module uses it: the exported module
// descriptor, the activation entries, the handler table the module fills,
// and the records the host hands over (frames, scene lines, globals).
//
// Written from what the module needs of its host. On a 32-bit target every
// record has the exact word layout the host expects (checked below); on a
// 64-bit target the members keep the same order with natural alignment, so
// hosts and tools built for either word size can use these declarations.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Maps a global's name ("LW Scene Info", ...) to the host's record or table,
// or to null when the host has none. The second argument is always 0 here.
typedef void* (*GlobalLookup)(const char* name, int32_t use);

// Activation entry of a server: host interface version, the host's lookup,
// the local data (for the image filter handler: the HandlerTable to fill)
// and the server data (ignored).
typedef int (*ActivateFunc)(int32_t version, GlobalLookup global, void* local,
                            void* serverData);

struct ServerRecord {
    const char* serverClass;
    const char* name;
    ActivateFunc activate;
};

struct ModuleDescriptor {
    uint32_t sync;
    uint32_t version;
    uint32_t machine;
    void* (*startup)(void);
    void (*shutdown)(void* data);
    const ServerRecord* servers;
};

// One frame as the host offers it to the process slot.
struct FrameAccess {
    int32_t width;
    int32_t height;
    int32_t unusedWord;
    // alignas keeps the doubles at offsets 16 and 24 on every target,
    // including 32-bit ABIs that would otherwise align a double to 4 bytes.
    alignas(8) double unusedDouble;
    alignas(8) double time;
    // The W bytes of row y of a byte buffer (types 32 red, 33 green, 34 blue,
    // 35 alpha, 10 shadow). Part of the contract: the module relies on each
    // of these buffers being one contiguous, writable W x H byte array, row y
    // W * y bytes after row 0, that stays in place for the whole process call.
    // It fetches row 0 only and addresses the whole frame from it; its changes
    // in place must be seen by later fetches. A host that keeps rows apart
    // must copy the frame into such an array before the call and back after.
    uint8_t* (*getLine)(int32_t type, int32_t y);
    float* (*getFloatLine)(int32_t type, int32_t y);
    void (*putRGB)(int32_t x, int32_t y, const uint8_t rgb[3]);
    void (*putAlpha)(int32_t x, int32_t y, uint8_t alpha);
};

// readLine stores at most size characters of the next line (a terminating
// zero included) and returns the number of characters stored, or a negative
// value when the block has no more lines.
struct LoadState {
    int32_t unusedWord;
    void* context;
    int32_t (*readLine)(void* context, char* buffer, int32_t size);
};

struct SaveState {
    int32_t unusedWord;
    void* context;
    void (*writeLine)(void* context, const char* text, int32_t length);
};

struct HandlerTable {
    void* (*create)(const char** error);
    void (*destroy)(void* instance);
    const char* (*copy)(void* source, void* target);
    const char* (*load)(void* instance, const LoadState* state);
    const char* (*save)(void* instance, const SaveState* state);
    void (*process)(void* instance, const FrameAccess* frame);
    uint32_t (*flags)(void* instance);
};

// "Host Display Info": the second word is the host's main window.
struct DisplayInfo {
    void* instance;
    void* mainWindow;
};

// "LW Scene Info": only word 5, the render options, is read.
struct SceneInfo {
    const char* name;
    const char* filename;
    int32_t word2;
    int32_t word3;
    int32_t word4;
    int32_t renderOptions;
};

// "LW Item Info": a table of ten operations read by slot; slots 2 to 7 are
// never called by the module.
struct ItemInfo {
    void* (*firstItem)(int32_t type, void* parent);
    void* (*nextItem)(void* item);
    void (*unusedSlot2)(void);
    void (*unusedSlot3)(void);
    void (*unusedSlot4)(void);
    void (*unusedSlot5)(void);
    void (*unusedSlot6)(void);
    void (*unusedSlot7)(void);
    const char* (*itemName)(void* item);
    void (*itemVector)(void* item, int32_t param, double time,
                       double vector[3]);
};

}  // extern "C"

namespace lumafex::host {

inline constexpr uint32_t kModuleSync = 0x04121994u;
inline constexpr uint32_t kModuleVersion = 2;
inline constexpr uint32_t kModuleMachine = 0x300;
inline constexpr int32_t kInterfaceVersion = 1;

// Results of the activation entries.
inline constexpr int kActivateOk = 0;
inline constexpr int kActivateBadVersion = 1;
// The module could not start: memory for the shared settings record could
// not be obtained, or this build has no settings dialog.
inline constexpr int kActivateFailed = 2;
inline constexpr int kActivateGlobalMissing = 3;

// Byte buffer types of getLine, and the depth type of getFloatLine.
inline constexpr int32_t kBufferShadow = 10;
inline constexpr int32_t kBufferDepth = 12;
inline constexpr int32_t kBufferRed = 32;
inline constexpr int32_t kBufferGreen = 33;
inline constexpr int32_t kBufferBlue = 34;
inline constexpr int32_t kBufferAlpha = 35;

// The flags slot asks for the shadow and depth buffers.
inline constexpr uint32_t kHandlerFlags = (1u << kBufferShadow) | (1u << kBufferDepth);

// Item types and the parameter code whose vector is an item's position.
inline constexpr int32_t kItemObject = 0;
inline constexpr int32_t kItemCamera = 2;
inline constexpr int32_t kParamPosition = 8;

// The scene renders fields when this bit is set in the render options.
inline constexpr int32_t kRenderFields = 8;

inline constexpr const char* kServerName = "Lumafex3";
inline constexpr const char* kHandlerClass = "ImageFilterHandler";
inline constexpr const char* kInterfaceClass = "ImageFilterInterface";

inline constexpr const char* kGlobalSceneInfo = "LW Scene Info";
inline constexpr const char* kGlobalItemInfo = "LW Item Info";
inline constexpr const char* kGlobalObjectInfo = "LW Object Info";
inline constexpr const char* kGlobalDisplayInfo = "Host Display Info";
// Optional, looked up only when the settings dialog opens: a host that wants
// the dialog to preview a particular frame answers with a FrameAccess of it
// (width, height, time, getLine and getFloatLine are read; nothing is
// written). Without it the preview uses the latest frame the module
// processed. The substitute host offers it; the renderer does not.
inline constexpr const char* kGlobalPreviewFrame = "Lumafex Preview Frame";
// Optional, looked up when the settings dialog opens: a host without a
// frame to offer answers with a zero-terminated text saying why (an image
// it could not read), which the preview shows.
inline constexpr const char* kGlobalPreviewProblem = "Lumafex Preview Problem";
// Optional, looked up when the settings dialog opens: a host that answers
// with an int32_t learns how the dialog ended: 1 for OK, 0 for Cancel or a
// closed window. (The colour range choosers write the record at once, so
// the record alone does not tell.) The substitute host offers both.
inline constexpr const char* kGlobalDialogOutcome = "Lumafex Dialog Outcome";

static_assert(kHandlerFlags == 0x1400u);

// Members every build shares: the doubles of a frame sit at 16 and 24.
static_assert(offsetof(FrameAccess, unusedDouble) == 16);
static_assert(offsetof(FrameAccess, time) == 24);
static_assert(offsetof(FrameAccess, getLine) == 32);

#if UINTPTR_MAX == 0xFFFFFFFFu
// The host's exact word layout on a 32-bit target.
static_assert(sizeof(ModuleDescriptor) == 6 * 4);
static_assert(offsetof(ModuleDescriptor, sync) == 0);
static_assert(offsetof(ModuleDescriptor, version) == 4);
static_assert(offsetof(ModuleDescriptor, machine) == 8);
static_assert(offsetof(ModuleDescriptor, startup) == 12);
static_assert(offsetof(ModuleDescriptor, shutdown) == 16);
static_assert(offsetof(ModuleDescriptor, servers) == 20);
static_assert(sizeof(ServerRecord) == 3 * 4);
static_assert(offsetof(ServerRecord, serverClass) == 0);
static_assert(offsetof(ServerRecord, name) == 4);
static_assert(offsetof(ServerRecord, activate) == 8);
static_assert(sizeof(HandlerTable) == 7 * 4);
static_assert(offsetof(HandlerTable, create) == 0);
static_assert(offsetof(HandlerTable, destroy) == 1 * 4);
static_assert(offsetof(HandlerTable, copy) == 2 * 4);
static_assert(offsetof(HandlerTable, load) == 3 * 4);
static_assert(offsetof(HandlerTable, save) == 4 * 4);
static_assert(offsetof(HandlerTable, process) == 5 * 4);
static_assert(offsetof(HandlerTable, flags) == 6 * 4);
static_assert(offsetof(FrameAccess, width) == 0);
static_assert(offsetof(FrameAccess, height) == 4);
static_assert(offsetof(FrameAccess, unusedWord) == 8);
static_assert(offsetof(FrameAccess, getFloatLine) == 36);
static_assert(offsetof(FrameAccess, putRGB) == 40);
static_assert(offsetof(FrameAccess, putAlpha) == 44);
static_assert(sizeof(FrameAccess) == 48);
static_assert(offsetof(LoadState, context) == 4);
static_assert(offsetof(LoadState, readLine) == 8);
static_assert(offsetof(SaveState, context) == 4);
static_assert(offsetof(SaveState, writeLine) == 8);
static_assert(offsetof(DisplayInfo, mainWindow) == 4);
static_assert(offsetof(SceneInfo, renderOptions) == 5 * 4);
static_assert(offsetof(ItemInfo, firstItem) == 0);
static_assert(offsetof(ItemInfo, nextItem) == 1 * 4);
static_assert(offsetof(ItemInfo, itemName) == 8 * 4);
static_assert(offsetof(ItemInfo, itemVector) == 9 * 4);
#else
static_assert(offsetof(FrameAccess, getFloatLine) == 40);
static_assert(offsetof(FrameAccess, putRGB) == 48);
static_assert(offsetof(FrameAccess, putAlpha) == 56);
#endif

}  // namespace lumafex::host
