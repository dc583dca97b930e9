// Interface activation's dialog on Linux: loads the dialog library from the
// module file's folder the first time it is asked for, and keeps it loaded
// for the rest of the process (its toolkit application must outlive any
// unloading of the module).
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "platform/messages.h"
#include "ui/dialog_library.h"
#include "ui/settings_dialog.h"

namespace lumafex::ui {

namespace {

// The folder of the file this code was loaded from: the module file inside a
// host, the program itself in builds that link the core directly.
std::string OwnFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnFolder), &info) == 0 || info.dli_fname == nullptr)
        return {};
    const std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

RunDialogEntry LoadDialogLibrary() {
    static RunDialogEntry run = nullptr;
    if (run != nullptr) return run;
    const std::string path = OwnFolder() + kDialogLibraryFile;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) {
        const char* reason = dlerror();
        std::fprintf(stderr, "lumafex: the settings dialog is not available: %s\n",
                     reason != nullptr ? reason : path.c_str());
        return nullptr;
    }
    run = reinterpret_cast<RunDialogEntry>(dlsym(library, kRunDialogEntry));
    const auto show = reinterpret_cast<ShowMessageEntry>(dlsym(library, kShowMessageEntry));
    if (run == nullptr || show == nullptr) {
        std::fprintf(stderr, "lumafex: %s is not this module's settings dialog library\n",
                     path.c_str());
        run = nullptr;
        return nullptr;
    }
    // From now on the module's messages show as message boxes while the
    // toolkit's application runs on the calling thread.
    platform::SetMessagePresenter(show);
    return run;
}

}  // namespace

bool DialogShowsPreview() { return true; }

bool RunSettingsDialog(const DialogModel& model) {
    const RunDialogEntry run = LoadDialogLibrary();
    return run != nullptr && run(&model, sizeof(DialogModel)) != 0;
}

}  // namespace lumafex::ui
