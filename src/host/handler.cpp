#include "host/handler.h"

#include "platform/heap.h"
#include "settings/scene_lines.h"
#include "ui/settings_dialog.h"

namespace lumafex {

namespace {

// The host's scene-file block as the settings' line source and sink.
class HostLineSource final : public LineSource {
public:
    explicit HostLineSource(const LoadState& state) : state_(state) {}
    int32_t ReadLine(char* buffer, int32_t size) override {
        return state_.readLine != nullptr ? state_.readLine(state_.context, buffer, size) : -1;
    }

private:
    const LoadState& state_;
};

class HostLineSink final : public LineSink {
public:
    explicit HostLineSink(const SaveState& state) : state_(state) {}
    void WriteLine(const char* text, int32_t length) override {
        state_.writeLine(state_.context, text, length);
    }

private:
    const SaveState& state_;
};

void* Create(const char** error) noexcept {
    FilterSettings* record = TheModule().record.CreateInstance();
    if (record == nullptr && error != nullptr) *error = kCreateOutOfMemory;
    return record;
}

void Destroy(void*) noexcept {
    TheModule().record.DestroyInstance();
    platform::TrimHeap();
}

const char* Copy(void*, void*) noexcept { return nullptr; }

const char* Load(void*, const LoadState* state) noexcept {
    FilterSettings* record = TheModule().record.Obtain();
    if (record == nullptr || state == nullptr) return nullptr;
    HostLineSource source(*state);
    LoadSceneLines(*record, source);
    return nullptr;
}

const char* Save(void*, const SaveState* state) noexcept {
    FilterSettings* record = TheModule().record.Obtain();
    if (record == nullptr || state == nullptr || state->writeLine == nullptr) return nullptr;
    HostLineSink sink(*state);
    SaveSceneLines(*record, sink);
    return nullptr;
}

void Process(void*, const FrameAccess* frame) noexcept {
    Module& module = TheModule();
    FilterSettings* record = module.record.Obtain();
    if (record == nullptr || frame == nullptr) return;
    // The host's process entry has no result to give: a frame the adapter
    // refuses keeps the pixels the host gave it, which is what the host shows.
    static_cast<void>(ProcessFrame(*frame, module.lookup, module.UseNulls, *record, module.globals,
                                   module.random,
                                   ui::DialogShowsPreview() ? &module.lastFrame : nullptr));
}

uint32_t Flags(void*) noexcept { return host::kHandlerFlags; }

}  // namespace

int ActivateHandler(Module& module, int32_t version, GlobalLookup lookup, HandlerTable* table) {
    module.lookup = lookup;
    if (version != host::kInterfaceVersion) return host::kActivateBadVersion;
    if (table != nullptr) {
        table->create = Create;
        table->destroy = Destroy;
        table->copy = Copy;
        table->load = Load;
        table->save = Save;
        table->process = Process;
        table->flags = Flags;
    }
    if (!module.record.Renew()) return host::kActivateFailed;
    auto* display = lookup != nullptr
                        ? static_cast<const DisplayInfo*>(lookup(host::kGlobalDisplayInfo, 0))
                        : nullptr;
    if (display == nullptr) return host::kActivateGlobalMissing;
    module.hostWindow = display->mainWindow;
    return host::kActivateOk;
}

}  // namespace lumafex
