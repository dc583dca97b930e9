// The dialog library of the Linux module: the Qt binding of the controller,
// loaded by the module on its first interface activation. It runs inside the
// host's process: it uses the host's Qt application when there is one and
// creates one on first need otherwise.
#include <QApplication>
#include <QBoxLayout>
#include <QMessageBox>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "platform/messages.h"
#include "ui/dialog_controller.h"
#include "ui/qt/display_check.h"
#include "ui/qt/preview_pane.h"
#include "ui/qt/qt_surface.h"
#include "ui/dialog_library.h"

namespace lumafex {

namespace {

bool OnGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return qobject_cast<QApplication*>(app) != nullptr && QThread::currentThread() == app->thread();
}

// The module's messages go to a message box while a Qt application runs on
// this thread (the dialog's, or a Qt host's); otherwise to standard error,
// so that a batch render never waits on a box.
bool ShowWithQt(const char* text, const char* caption) {
    if (!OnGuiThread()) return false;
    QMessageBox::warning(nullptr, QString::fromUtf8(caption), QString::fromUtf8(text));
    return true;
}

// Installed when the module is loaded.
const bool kPresenterInstalled = (platform::SetMessagePresenter(ShowWithQt), true);

// The host's application, or one of the module's own, created once and kept
// for the module's life.
[[nodiscard]] bool EnsureApplication() {
    if (QCoreApplication::instance() != nullptr) {
        if (!OnGuiThread()) {
            std::fprintf(stderr, "lumafex: the settings dialog needs the host's Qt GUI thread\n");
            return false;
        }
        return true;
    }
    // Qt would end the host's process where it cannot open a display.
    if (const std::string problem = ui::QtDisplayProblem(); !problem.empty()) {
        std::fprintf(stderr, "lumafex: the settings dialog needs a display (%s)\n",
                     problem.c_str());
        return false;
    }
    static int argc = 1;
    static char name[] = "lumafex3";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // kept: Qt allows one application per process
    return true;
}

// A copy of the frame the preview shows (empty before the first frame).
std::shared_ptr<const PreviewFrame> PreviewSource(const ui::DialogModel& model) {
    auto kept = std::make_shared<PreviewFrame>();
    if (model.previewFrame == nullptr) return kept;
    try {
        *kept = *model.previewFrame;
    } catch (const std::bad_alloc&) {
        *kept = PreviewFrame{};
    }
    return kept;
}

[[nodiscard]] bool RunDialog(const ui::DialogModel& model) {
    if (!EnsureApplication()) return false;
    if (model.settings == nullptr || model.random == nullptr) {
        platform::ShowMessage(platform::kOutOfMemoryText, platform::kOutOfMemoryCaption);
        return false;
    }
    // The host window is not a Qt widget: the dialog is application-modal.
    ui::QtSettingsDialog dialog;
    ui::DialogController controller(dialog, model);
    dialog.Attach(&controller);
    controller.Start();
    ui::PreviewPane preview(controller, PreviewSource(model), *model.random, &dialog);
    dialog.PreviewSlot()->addWidget(&preview);
    dialog.SetChangeListener([&preview] { preview.Schedule(); });
    preview.Schedule();
    dialog.exec();
    dialog.SetChangeListener(nullptr);
    return true;
}

}  // namespace
}  // namespace lumafex

// The entries the module looks up by name (see ui/dialog_library.h).
extern "C" __attribute__((visibility("default"))) int lumafex_qt_run_dialog(
    const lumafex::ui::DialogModel* model, std::size_t modelSize) {
    (void)lumafex::kPresenterInstalled;
    if (model == nullptr || modelSize != sizeof(lumafex::ui::DialogModel)) {
        std::fprintf(stderr, "lumafex: the settings dialog library does not match the module\n");
        return 0;
    }
    return lumafex::RunDialog(*model) ? 1 : 0;
}

extern "C" __attribute__((visibility("default"))) bool lumafex_qt_show_message(const char* text,
                                                                              const char* caption) {
    return lumafex::ShowWithQt(text, caption);
}
