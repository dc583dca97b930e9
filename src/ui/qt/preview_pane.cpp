#include "ui/qt/preview_pane.h"

#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QStandardItemModel>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "ui/dialog_controller.h"
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

// Near is light, far is dark, over the range of finite depths in the frame.
QImage DepthImage(const PreviewFrame& kept) {
    QImage image(kept.width, kept.height, QImage::Format_Grayscale8);
    image.fill(0);
    if (kept.depth.empty()) return image;
    float nearest = INFINITY, farthest = -INFINITY;
    for (float d : kept.depth) {
        if (!std::isfinite(d)) continue;
        nearest = std::min(nearest, d);
        farthest = std::max(farthest, d);
    }
    const double span = farthest > nearest ? static_cast<double>(farthest) - nearest : 1.0;
    for (int32_t y = 0; y < kept.height; ++y) {
        uchar* line = image.scanLine(y);
        for (int32_t x = 0; x < kept.width; ++x) {
            const float d = kept.depth[static_cast<std::size_t>(y) * kept.width + x];
            if (!std::isfinite(d)) continue;
            line[x] = static_cast<uchar>(255.0 - 255.0 * (static_cast<double>(d) - nearest) / span);
        }
    }
    return image;
}

enum Mode { kAfter, kBefore, kSplit, kDepth };

}  // namespace

PreviewPane::PreviewPane(DialogController& controller, std::shared_ptr<const PreviewFrame> kept,
                         const RandomGenerator& random, QWidget* parent)
    : QWidget(parent), controller_(controller), kept_(std::move(kept)), random_(random) {
    setObjectName(QStringLiteral("preview"));
    image_ = new QLabel(this);
    image_->setObjectName(QStringLiteral("previewImage"));
    image_->setAlignment(Qt::AlignCenter);
    // The picture follows the pane's size, never the other way round.
    image_->setMinimumSize(400, 225);
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
        "half after. Depth map: the depth buffer, near light and far dark."));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("previewStatus"));
    status_->setWordWrap(true);
    auto* title = new QLabel(QStringLiteral("Preview"), this);
    auto* top = new QHBoxLayout;
    top->addWidget(title);
    top->addStretch(1);
    top->addWidget(mode_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(image_, 1);
    layout->addWidget(status_);

    settle_ = new QTimer(this);
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMilliseconds);
    connect(settle_, &QTimer::timeout, this, [this] { Ask(); });
    connect(mode_, &QComboBox::currentIndexChanged, this, [this] { Redraw(); });

    if (kept_ == nullptr || kept_->empty()) {
        mode_->setEnabled(false);
        image_->setText(QStringLiteral("No frame to preview"));
        status_->setText(QStringLiteral(
            "The preview shows the latest frame the filter processed: render a frame, then open "
            "the settings again (lumafex edit shows a frame of its scene)."));
        return;
    }
    if (auto* items = qobject_cast<QStandardItemModel*>(mode_->model());
        items && kept_->depth.empty()) {
        items->item(kDepth)->setEnabled(false);  // no depth buffer came with the frame
    }
    UseFrame(kept_);
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

void PreviewPane::UseFrame(std::shared_ptr<const PreviewFrame> frame) {
    kept_ = std::move(frame);
    const PreviewFrame& k = *kept_;
    before_ = ToImage(k.width, k.height, k.red, k.green, k.blue);
    depth_ = DepthImage(k);
    after_ = QImage();
    frameText_ = QStringLiteral("Frame at %1 s").arg(k.time, 0, 'f', 2);
    if (k.reduced()) {
        frameText_ += QStringLiteral(", %1×%2 previewed at %3×%4 (reduced to stay interactive; "
                                     "blur radii are in pixels, so blurs look stronger)")
                          .arg(k.sourceWidth).arg(k.sourceHeight).arg(k.width).arg(k.height);
    } else {
        frameText_ += QStringLiteral(", %1×%2").arg(k.width).arg(k.height);
    }
}

void PreviewPane::Schedule() {
    if (worker_ == nullptr) return;
    setProperty("current", false);
    settle_->start();
}

void PreviewPane::Ask() {
    const std::string problem = controller_.CheckAllFields();
    if (!problem.empty()) {
        status_->setText(frameText_ + QStringLiteral(". The preview waits for valid values: ") +
                         QString::fromStdString(problem));
        return;
    }
    const PreviewJob job =
        MakePreviewJob(*kept_, controller_.CurrentValues(), controller_.model(), random_);
    worker_->Request(kept_, job);
    status_->setText(frameText_ + QStringLiteral(". Updating…"));
}

void PreviewPane::Show(uint64_t request, QImage after, double milliseconds) {
    if (worker_ == nullptr || request != worker_->Latest()) return;
    // Too slow to follow typing: once, go on with a frame of half the size.
    if (!halved_ && milliseconds > kInteractiveMilliseconds && kept_->width > kSmallestToHalve) {
        halved_ = true;
        auto half = std::make_shared<PreviewFrame>();
        if (HalveFrame(*kept_, *half)) {
            UseFrame(std::move(half));
            Redraw();
            Schedule();
            return;
        }
    }
    after_ = std::move(after);
    ++updates_;
    // For tests and tools: the full-size result and how many have arrived.
    setProperty("afterImage", after_);
    setProperty("updates", updates_);
    // True once the picture shows the dialog's values as they stand.
    setProperty("current", !settle_->isActive());
    status_->setText(frameText_ + QStringLiteral(". Updated in %1 ms.").arg(std::lround(milliseconds)));
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
                painter.drawImage(QPoint(half, 0), after_, QRect(half, 0, shown.width() - half, shown.height()));
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
