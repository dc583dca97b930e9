// The dialog's preview: the kept frame filtered with the dialog's current
// values, beside the controls. Changes are gathered for a moment (so typing
// "150" asks once, not three times), the module's passes run on the
// preview worker's thread, and only the newest result is shown. The pane
// shows the result, the frame as it came, both side by side, or the depth
// buffer.
#pragma once

#include <QImage>
#include <QWidget>

#include <memory>

#include "pipeline/frame/random_generator.h"
#include "pipeline/preview_frame.h"
#include "ui/depth_colours.h"
#include "ui/qt/preview_worker.h"

class QComboBox;
class QLabel;
class QTimer;

namespace lumafex::ui {

class DialogController;

class PreviewPane final : public QWidget {
public:
    // kept may be empty (no frame yet); random is the module's generator,
    // copied into every job and never advanced.
    PreviewPane(DialogController& controller, std::shared_ptr<const PreviewFrame> kept,
                const RandomGenerator& random, QWidget* parent);
    ~PreviewPane() override;

    // A control changed: ask for a new preview once the changes settle.
    void Schedule();

    // Room for a 480x270 picture where the screen has it; the picture
    // shrinks to 160x90 before the controls beside it give way.
    QSize sizeHint() const override { return {480, 360}; }

    // How long changes settle before a preview is asked for.
    static constexpr int kSettleMilliseconds = 150;
    // A full-size update slower than this makes the updates while values
    // change use a frame of half the size (for frames wider than
    // kSmallestToHalve); once changes pause for kFullSizeMilliseconds the
    // full size follows, and a full-size update as fast as this again ends
    // the halving. (The pane's "slowMilliseconds" property, where set,
    // replaces kInteractiveMilliseconds.)
    static constexpr double kInteractiveMilliseconds = 100.0;
    static constexpr int32_t kSmallestToHalve = 480;
    static constexpr int kFullSizeMilliseconds = 400;

private:
    void BuildWidgets();
    void ConnectTimers();
    void Ask(bool fullSize);
    void Show(uint64_t request, QImage after, double milliseconds);
    void Redraw();
    QString FrameText(const PreviewFrame& frame) const;
    void ShowDepthLegend();
    void resizeEvent(QResizeEvent* event) override;

    DialogController& controller_;
    std::shared_ptr<const PreviewFrame> kept_;  // the frame as kept
    std::shared_ptr<const PreviewFrame> half_;  // kept_ at half size, once needed
    bool halved_ = false;       // updates while values change use half_
    bool askedFullSize_ = true;  // the latest request ran on kept_
    const RandomGenerator& random_;
    QImage before_, after_, depth_;
    DepthRange depthRange_;
    QLabel* image_;
    QLabel* status_;
    QLabel* legend_;
    QComboBox* mode_;
    QTimer* settle_;
    QTimer* fullSize_;
    QString frameText_;
    int updates_ = 0;
    int reducedUpdates_ = 0;
    std::unique_ptr<PreviewWorker> worker_;
};

}  // namespace lumafex::ui
