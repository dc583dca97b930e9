#include "ui/qt/preview_pane.h"

#include <QColor>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStandardItemModel>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "ui/dialog_controller.h"
#include "ui/dialog_model.h"
#include "ui/preview_job.h"

namespace lumafex::ui {

namespace {

QImage ToImage(int32_t width, int32_t height, const std::vector<uint8_t>& red,
               const std::vector<uint8_t>& green, const std::vector<uint8_t>& blue) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int32_t y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        for (int32_t x = 0; x < width; ++x) {
            const std::size_t i = row + static_cast<std::size_t>(x);
            line[x] = qRgb(red[i], green[i], blue[i]);
        }
    }
    return image;
}

// The depth buffer in the colours every depth picture uses, over the range
// of the frame's objects (the background left out).
QImage DepthImage(const PreviewFrame& kept, const DepthRange& range) {
    QImage image(kept.width, kept.height, QImage::Format_RGB32);
    image.fill(Qt::black);
    if (kept.depth.empty()) return image;
    for (int32_t y = 0; y < kept.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int32_t x = 0; x < kept.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(kept.width) +
                                  static_cast<std::size_t>(x);
            if (kept.alpha[i] == 0) continue;
            if (const auto c = ColourOfDepth(kept.depth[i], range)) line[x] = qRgb(c->red, c->green, c->blue);
        }
    }
    return image;
}

// The legend's colour bar as text: near (red) on the left, far (blue) on
// the right.
QString DepthRampText() {
    QString text;
    for (int i = 0; i <= 8; ++i) {
        const DepthColour c = DepthRampColour(1.0 - i / 8.0);
        text += QStringLiteral("<span style=\"background:%1\">&nbsp;&nbsp;</span>")
                    .arg(QColor(c.red, c.green, c.blue).name());
    }
    return text;
}

QString DepthText(double depth) { return QString::number(depth, 'g', 4); }

enum Mode { kAfter, kBefore, kSplit, kDepth };

}  // namespace

// The picture, the mode, the legend and the status line, laid out.
void PreviewPane::BuildWidgets() {
    setObjectName(QStringLiteral("preview"));
    image_ = new QLabel(this);
    image_->setObjectName(QStringLiteral("previewImage"));
    image_->setAlignment(Qt::AlignCenter);
    // The picture follows the pane's size, never the other way round.
    image_->setMinimumSize(160, 90);
    image_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    image_->setToolTip(QStringLiteral(
        "The frame filtered with the values in this dialog, as a render would give it. Nothing "
        "is stored until OK."));
    mode_ = new QComboBox(this);
    mode_->setObjectName(QStringLiteral("previewMode"));
    mode_->addItems({QStringLiteral("After"), QStringLiteral("Before"),
                     QStringLiteral("Split: before | after"), QStringLiteral("Depth map")});
    mode_->setToolTip(QStringLiteral(
        "After: filtered. Before: the frame as rendered. Split: the left half before, the right "
        "half after. Depth map: the depth buffer from near (red) to far (blue) over the depths "
        "of the frame's objects; the background and pixels without depth are black."));
    legend_ = new QLabel(this);
    legend_->setObjectName(QStringLiteral("depthLegend"));
    legend_->setWordWrap(true);
    legend_->setVisible(false);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("previewStatus"));
    status_->setWordWrap(true);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Room for four lines whatever the text, so that the picture above does
    // not move when the text wraps differently.
    status_->setFixedHeight(status_->fontMetrics().lineSpacing() * 4 + 4);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    auto* title = new QLabel(QStringLiteral("Preview"), this);
    auto* top = new QHBoxLayout;
    top->addWidget(title);
    top->addStretch(1);
    top->addWidget(mode_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(image_, 1);
    layout->addWidget(legend_);
    layout->addWidget(status_);
}

// The timers that ask for a preview once the values settle, and at full size
// a little later; a new mode redraws what is there.
void PreviewPane::ConnectTimers() {
    settle_ = new QTimer(this);
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMilliseconds);
    connect(settle_, &QTimer::timeout, this, [this] { Ask(false); });
    fullSize_ = new QTimer(this);
    fullSize_->setSingleShot(true);
    fullSize_->setInterval(kFullSizeMilliseconds);
    connect(fullSize_, &QTimer::timeout, this, [this] { Ask(true); });
    connect(mode_, &QComboBox::currentIndexChanged, this, [this] {
        legend_->setVisible(mode_->currentIndex() == kDepth);
        Redraw();
    });
}

PreviewPane::PreviewPane(DialogController& controller, std::shared_ptr<const PreviewFrame> kept,
                         const RandomGenerator& random, QWidget* parent)
    : QWidget(parent), controller_(controller), kept_(std::move(kept)), random_(random) {
    BuildWidgets();
    ConnectTimers();

    if (kept_ == nullptr || kept_->empty()) {
        mode_->setEnabled(false);
        image_->setText(QStringLiteral("No frame to preview"));
        const char* problem = controller_.model().previewProblem;
        status_->setText(
            problem != nullptr
                ? QStringLiteral("No preview: ") + QString::fromUtf8(problem)
                : QStringLiteral(
                      "The preview shows the latest frame the filter processed: render a frame, "
                      "then open the settings again (lumafex edit shows a frame of its scene)."));
        status_->setToolTip(status_->text());
        return;
    }
    const PreviewFrame& k = *kept_;
    before_ = ToImage(k.width, k.height, k.red, k.green, k.blue);
    if (!k.depth.empty()) depthRange_ = FindDepthRange(k.depth.data(), k.alpha.data(), k.depth.size());
    depth_ = DepthImage(k, depthRange_);
    ShowDepthLegend();
    frameText_ = FrameText(k);
    worker_ = std::make_unique<PreviewWorker>(
        [this](uint64_t request, const PreviewImage& image, double milliseconds) {
            QImage after = ToImage(image.width, image.height, image.red, image.green, image.blue);
            // Back on the dialog's thread; dropped if the pane is gone.
            QMetaObject::invokeMethod(
                this, [this, request, after, milliseconds] { Show(request, after, milliseconds); },
                Qt::QueuedConnection);
        });
    status_->setText(frameText_ + QStringLiteral("."));
}

PreviewPane::~PreviewPane() { worker_.reset(); }

QString PreviewPane::FrameText(const PreviewFrame& f) const {
    QString text = QStringLiteral("Frame at %1 s").arg(f.time, 0, 'f', 2);
    if (f.reduced()) {
        text += QStringLiteral(", %1×%2 previewed at %3×%4").arg(f.sourceWidth).arg(f.sourceHeight)
                    .arg(f.width).arg(f.height);
        text += f.width < kept_->width
                    ? QStringLiteral(" while values change (the full %1×%2 follows when they "
                                     "pause)").arg(kept_->width).arg(kept_->height)
                    : QStringLiteral(" (reduced to stay interactive)");
        text += QStringLiteral("; blur radii are in pixels, so blurs look stronger");
    } else {
        text += QStringLiteral(", %1×%2").arg(f.width).arg(f.height);
    }
    return text;
}

void PreviewPane::ShowDepthLegend() {
    auto* items = qobject_cast<QStandardItemModel*>(mode_->model());
    if (kept_->depth.empty()) {
        // Said in the list itself: no depth buffer came with the frame.
        mode_->setItemText(kDepth, QStringLiteral("Depth map (no depth buffer)"));
        if (items != nullptr) items->item(kDepth)->setEnabled(false);
        legend_->setText(QStringLiteral("No depth buffer came with this frame."));
        return;
    }
    if (depthRange_.empty()) {
        legend_->setText(QStringLiteral("No depth: the frame has no object with a depth (the "
                                        "background is left out)."));
        return;
    }
    legend_->setTextFormat(Qt::RichText);
    legend_->setProperty("nearest", depthRange_.nearest);
    legend_->setProperty("farthest", depthRange_.farthest);
    legend_->setText(QStringLiteral("Near %1 %2 far %3 &nbsp;(black: background or no depth)")
                         .arg(DepthText(depthRange_.nearest), DepthRampText(),
                              DepthText(depthRange_.farthest)));
}

void PreviewPane::Schedule() {
    if (worker_ == nullptr) return;
    setProperty("current", false);
    fullSize_->stop();
    settle_->start();
}

void PreviewPane::Ask(bool fullSize) {
    const std::string problem = controller_.CheckAllFields();
    if (!problem.empty()) {
        status_->setText(frameText_ + QStringLiteral(". The preview waits for valid values: ") +
                         QString::fromStdString(problem));
        return;
    }
    if (halved_ && !fullSize && half_ == nullptr) {
        auto half = std::make_shared<PreviewFrame>();
        if (HalveFrame(*kept_, *half)) {
            half_ = std::move(half);
        } else {
            halved_ = false;  // nothing smaller to be had: stay at full size
        }
    }
    askedFullSize_ = fullSize || !halved_;
    const std::shared_ptr<const PreviewFrame>& frame = askedFullSize_ ? kept_ : half_;
    const PreviewJob job =
        MakePreviewJob(*frame, controller_.CurrentValues(), controller_.model(), random_);
    worker_->Request(frame, job);
    status_->setText(frameText_ + QStringLiteral(". Updating…"));
}

void PreviewPane::Show(uint64_t request, QImage after, double milliseconds) {
    if (worker_ == nullptr || request != worker_->Latest()) return;
    const QVariant slowSetting = property("slowMilliseconds");
    const double slow = slowSetting.isValid() ? slowSetting.toDouble() : kInteractiveMilliseconds;
    if (askedFullSize_) {
        // Full size decides how the next changes are previewed: halved while
        // it is too slow to follow typing, whole again once it is fast.
        halved_ = milliseconds > slow && kept_->width > kSmallestToHalve;
        frameText_ = FrameText(*kept_);
    } else {
        ++reducedUpdates_;
        frameText_ = FrameText(*half_);
        // The reduced picture never stays: the full size follows once the
        // values rest.
        if (!settle_->isActive()) fullSize_->start();
    }
    after_ = std::move(after);
    ++updates_;
    // For tests and tools: the result, how many have arrived (and how many
    // at half size), and its width.
    setProperty("afterImage", after_);
    setProperty("updates", updates_);
    setProperty("reducedUpdates", reducedUpdates_);
    setProperty("previewWidth", after_.width());
    // True once the picture shows the dialog's values as they stand, at
    // full size.
    setProperty("current", askedFullSize_ && !settle_->isActive());
    status_->setText(frameText_ + QStringLiteral(". Updated in %1 ms.").arg(std::lround(milliseconds)));
    status_->setToolTip(status_->text());
    Redraw();
}

void PreviewPane::Redraw() {
    if (before_.isNull()) return;
    QImage shown;
    switch (mode_->currentIndex()) {
        case kBefore: shown = before_; break;
        case kDepth: shown = depth_; break;
        case kSplit: {
            shown = before_.copy();
            if (!after_.isNull()) {
                QPainter painter(&shown);
                const int half = shown.width() / 2;
                // A half-size result is drawn at the frame's size.
                const QImage after = after_.size() == shown.size() ? after_ : after_.scaled(shown.size());
                painter.drawImage(QPoint(half, 0), after, QRect(half, 0, shown.width() - half, shown.height()));
                painter.setPen(Qt::white);
                painter.drawLine(half, 0, half, shown.height() - 1);
            }
            break;
        }
        default: shown = after_.isNull() ? before_ : after_; break;
    }
    image_->setPixmap(QPixmap::fromImage(shown).scaled(image_->size(), Qt::KeepAspectRatio,
                                                       Qt::SmoothTransformation));
}

void PreviewPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Redraw();
}

}  // namespace lumafex::ui
