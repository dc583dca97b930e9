// The Qt settings dialog opened through interface activation, driven the
// way a user would: typing into boxes, clicking boxes, radios and menu items.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFileDialog>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QValidator>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <random>
#include <tuple>

#include "command_line/edit.h"
#include "host/handler.h"
#include "host/servers.h"
#include "image_files/files.h"
#include "pictures/demo.h"
#include "scenes/scene.h"
#include "scenes/settings_block.h"
#include "support/fake_host.h"
#include "ui/control_ids.h"

namespace lumafex {
namespace {

using lumafex::testing::FakeHost;

template <typename T>
T* Find(QWidget* dialog, int id) {
    return dialog->findChild<T*>(QStringLiteral("id%1").arg(id));
}

// Runs action on the first modal widget of type T once it is showing and
// action says it was ready: an action that returns false is tried again on
// the next tick, so a widget that fills itself in the background (a file
// chooser reading its folder) is acted on only when it reports the state the
// action needs.
template <typename T>
void WhenReady(std::function<bool(T*)> action) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
            if (!w->isVisible()) return;
            timer->stop();
            if (action(w)) {
                timer->deleteLater();
            } else {
                timer->start(10);
            }
        }
    });
    timer->start(10);
}

template <typename T>
void WhenModal(std::function<void(T*)> action) {
    WhenReady<T>([action](T* w) {
        action(w);
        return true;
    });
}

// Chooses path in a file chooser as a user would, by typing its name into
// the chooser's name box, and accepts once the chooser itself says that path
// is what it would return. (selectFile() leaves the box alone while it has
// the keyboard focus, and accepting a stale name makes the chooser warn, in
// a message box nothing would close.)
// The chooser may return another name than the one typed (returns, when
// given: a name it completed with its default extension).
bool ChooseFile(QFileDialog* chooser, const std::string& path, const std::string& returns = {}) {
    const QFileInfo file(QString::fromStdString(path));
    const QFileInfo returned(QString::fromStdString(returns.empty() ? path : returns));
    if (chooser->directory().absolutePath() != file.absolutePath()) {
        chooser->setDirectory(file.absolutePath());
        return false;
    }
    auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name == nullptr) return false;
    name->setText(file.fileName());
    const QStringList chosen = chooser->selectedFiles();
    if (chosen.size() != 1 ||
        QFileInfo(chosen.front()).absoluteFilePath() != returned.absoluteFilePath()) {
        return false;
    }
    static_cast<QDialog*>(chooser)->accept();
    return true;
}

// Ends whatever modal window is still open after the time limit, with a
// failure naming it, so that a test that waits for a window state that never
// comes fails instead of hanging the run.
class Watchdog {
public:
    explicit Watchdog(int milliseconds) {
        clock_.start();
        QObject::connect(&timer_, &QTimer::timeout, [this, milliseconds] {
            if (clock_.elapsed() < milliseconds) return;
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr) return;
            QString text = modal->windowTitle();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) text += ": " + box->text();
            ADD_FAILURE() << "a " << modal->metaObject()->className() << " was still open after "
                          << milliseconds << " ms (" << text.toStdString() << ")";
            if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                dialog->reject();
            } else {
                modal->close();
            }
        });
        timer_.start(100);
    }

private:
    QElapsedTimer clock_;
    QTimer timer_;
};

class QtDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(HandlerActivate(1, host.Lookup(), &table, nullptr), 0);
        record = static_cast<FilterSettings*>(table.create(nullptr));
        TheModule().UseNulls = 0;
    }
    void TearDown() override {
        table.destroy(record);
        TheModule().UseNulls = 8;
    }
    int Open(std::function<void(QDialog*)> action) {
        const Watchdog watchdog(30000);
        WhenModal<QDialog>(action);
        return InterfaceActivate(1, host.Lookup(), nullptr, nullptr);
    }
    FakeHost host;
    HandlerTable table{};
    FilterSettings* record = nullptr;
};

TEST_F(QtDialog, OkStoresWhatWasTypedAndClicked) {
    record->FilterInclude = 7;  // shows no radio; OK stores 3
    EXPECT_EQ(Open([](QDialog* d) {
                  EXPECT_EQ(Find<QLineEdit>(d, ui::kRedPercentEdit)->text(), "100");
                  EXPECT_FALSE(Find<QLineEdit>(d, ui::kPassesEdit)->isVisible());
                  for (int id : {ui::kFullFrameRadio, ui::kObjectsOnlyRadio})
                      EXPECT_FALSE(Find<QRadioButton>(d, id)->isChecked());
                  Find<QLineEdit>(d, ui::kRedPercentEdit)->setText("55");
                  Find<QLineEdit>(d, ui::kContrastPercentEdit)->setText("12abc");
                  Find<QLineEdit>(d, ui::kPassesEdit)->setText("9");
                  Find<QCheckBox>(d, ui::kBlurCheck)->click();
                  Find<QCheckBox>(d, ui::kFlipFrameCheck)->click();
                  Find<QRadioButton>(d, ui::kFlipVertRadio)->click();
                  Find<QAbstractButton>(d, ui::kOkButton)->click();
              }),
              0);
    EXPECT_EQ(record->RedPercent, 55);
    EXPECT_EQ(record->ContrastPercent, 12);
    EXPECT_EQ(record->Passes, 4);
    EXPECT_EQ(record->BlurFlag, 1);
    EXPECT_EQ(record->FlipFrameFlag, 2);
    EXPECT_EQ(record->FilterInclude, 3);
}

TEST_F(QtDialog, TheSofterBoxHasAThirdState) {
    record->SofterBlurFlag = 2;
    Open([](QDialog* d) {
        EXPECT_EQ(Find<QCheckBox>(d, ui::kSofterCheck)->checkState(), Qt::PartiallyChecked);
        Find<QAbstractButton>(d, ui::kOkButton)->click();
    });
    EXPECT_EQ(record->SofterBlurFlag, 2);
    EXPECT_EQ(record->SofterExtraFlag, 1);
    Open([](QDialog* d) {
        Find<QCheckBox>(d, ui::kSofterCheck)->setCheckState(Qt::Checked);
        Find<QAbstractButton>(d, ui::kOkButton)->click();
    });
    EXPECT_EQ(record->SofterBlurFlag, 1);
    EXPECT_EQ(record->SofterExtraFlag, 0);
}

TEST_F(QtDialog, CancelKeepsTheRecord) {
    const FilterSettings before = *record;
    Open([](QDialog* d) {
        Find<QLineEdit>(d, ui::kRedPercentEdit)->setText("5");
        Find<QCheckBox>(d, ui::kNoiseCheck)->click();
        Find<QAbstractButton>(d, ui::kCancelButton)->click();
    });
    EXPECT_EQ(std::memcmp(&before, record, sizeof before), 0);
}

TEST_F(QtDialog, UseNullsMenuItemFlipsTheModuleSwitch) {
    Open([](QDialog* d) {
        QAction* useNulls = d->findChild<QAction*>(QStringLiteral("id%1").arg(ui::kMenuUseNulls));
        EXPECT_FALSE(useNulls->isChecked());
        useNulls->trigger();
        d->findChild<QAction*>(QStringLiteral("id%1").arg(ui::kMenuCancel))->trigger();
    });
    EXPECT_EQ(TheModule().UseNulls, 8);
}

TEST_F(QtDialog, ColourRangeChoosersWriteTheRangeAtOnce) {
    Open([](QDialog* d) {
        int chooser = 0;
        std::function<void(QColorDialog*)> pick = [&chooser, &pick](QColorDialog* c) {
            c->setCurrentColor(chooser == 0 ? QColor(1, 2, 3) : QColor(200, 210, 220));
            if (++chooser < 2) WhenModal<QColorDialog>(pick);
            c->accept();
        };
        WhenModal<QColorDialog>(pick);
        Find<QRadioButton>(d, ui::kColourRangeRadio)->click();
        Find<QAbstractButton>(d, ui::kCancelButton)->click();
    });
    EXPECT_EQ(record->r1, 1);
    EXPECT_EQ(record->b1, 3);
    EXPECT_EQ(record->r2, 200);
    EXPECT_EQ(record->b2, 220);
}

TEST_F(QtDialog, PresetsRoundTripThroughTheFileChooser) {
    const std::string path =
        (std::filesystem::temp_directory_path() / "lumafex-qt-test.lmx").string();
    std::filesystem::remove(path);
    auto choose = [path](QFileDialog* f) { return ChooseFile(f, path); };
    Open([&](QDialog* d) {
        Find<QLineEdit>(d, ui::kRedPercentEdit)->setText("77");
        Find<QCheckBox>(d, ui::kKeyPrepCheck)->setCheckState(Qt::Checked);
        Find<QRadioButton>(d, ui::kKeyPrepWhiteRadio)->click();
        WhenReady<QFileDialog>(choose);
        d->findChild<QAction*>(QStringLiteral("id%1").arg(ui::kMenuSaveAs))->trigger();
        // Change the controls, then load the preset back over them.
        Find<QLineEdit>(d, ui::kRedPercentEdit)->setText("1");
        Find<QCheckBox>(d, ui::kKeyPrepCheck)->setCheckState(Qt::Unchecked);
        WhenReady<QFileDialog>(choose);
        d->findChild<QAction*>(QStringLiteral("id%1").arg(ui::kMenuOpen))->trigger();
        EXPECT_EQ(Find<QLineEdit>(d, ui::kRedPercentEdit)->text(), "77");
        Find<QAbstractButton>(d, ui::kOkButton)->click();
    });
    EXPECT_EQ(std::filesystem::file_size(path), 184u);
    EXPECT_EQ(record->RedPercent, 77);
    EXPECT_EQ(record->KeyPrepFlag, 2);
    std::filesystem::remove(path);
}

// A name typed without an extension is saved with ".lmx"; Open offers the
// presets and all files.
TEST_F(QtDialog, PresetsGetTheirExtensionAndOpenOffersAllFiles) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "lumafex-qt-ext";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string typed = (dir / "mypreset").string();
    QStringList filters;
    Open([&](QDialog* d) {
        WhenReady<QFileDialog>([typed](QFileDialog* f) { return ChooseFile(f, typed, typed + ".lmx"); });
        d->findChild<QAction*>(QStringLiteral("id%1").arg(ui::kMenuSaveAs))->trigger();
        WhenModal<QFileDialog>([&filters](QFileDialog* f) {
            filters = f->nameFilters();
            f->reject();
        });
        d->findChild<QAction*>(QStringLiteral("id%1").arg(ui::kMenuOpen))->trigger();
        Find<QAbstractButton>(d, ui::kCancelButton)->click();
    });
    EXPECT_TRUE(std::filesystem::exists(dir / "mypreset.lmx"));
    EXPECT_FALSE(std::filesystem::exists(dir / "mypreset"));
    ASSERT_EQ(filters.size(), 2);
    EXPECT_TRUE(filters[1].startsWith("All files"));
    std::filesystem::remove_all(dir);
}

// Spins the event loop until done() holds or five seconds pass.
bool WaitFor(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

// The preview shows what the module renders for the kept frame with the
// dialog's values, before they are stored: the frame rendered after OK
// matches it byte for byte, noise included (the generator did not move).
TEST_F(QtDialog, PreviewMatchesTheModulesOwnRender) {
    host.SetFrameSize(64, 24);
    std::mt19937 random(7);
    for (auto* plane : {&host.red, &host.green, &host.blue, &host.alpha}) {
        for (auto& v : *plane) v = static_cast<uint8_t>(random());
    }
    for (std::size_t i = 0; i < host.depth.size(); ++i) host.depth[i] = static_cast<float>(i % 64);
    const auto input = std::make_tuple(host.red, host.green, host.blue, host.alpha);
    const FrameAccess frame = host.Frame(0.0);
    table.process(record, &frame);  // the module keeps this frame for the preview

    QImage preview;
    const FilterSettings before = *record;
    Open([&](QDialog* d) {
        QWidget* pane = d->findChild<QWidget*>(QStringLiteral("preview"));
        ASSERT_NE(pane, nullptr);
        EXPECT_TRUE(WaitFor([pane] { return pane->property("current").toBool(); }));
        const QImage unchanged = pane->property("afterImage").value<QImage>();
        Find<QLineEdit>(d, ui::kRedPercentEdit)->setText("50");
        Find<QLineEdit>(d, ui::kContrastPercentEdit)->setText("140");
        Find<QCheckBox>(d, ui::kBlurCheck)->click();
        Find<QCheckBox>(d, ui::kNoiseCheck)->click();
        EXPECT_FALSE(pane->property("current").toBool());
        EXPECT_TRUE(WaitFor([pane] { return pane->property("current").toBool(); }));
        preview = pane->property("afterImage").value<QImage>();
        EXPECT_NE(preview, unchanged);
        EXPECT_EQ(std::memcmp(&before, record, sizeof before), 0);  // nothing stored yet
        // The other views of the same frame.
        auto* mode = d->findChild<QComboBox*>(QStringLiteral("previewMode"));
        for (int i = 0; i < mode->count(); ++i) mode->setCurrentIndex(i);
        EXPECT_FALSE(d->findChild<QLabel*>(QStringLiteral("previewImage"))->pixmap().isNull());
        Find<QAbstractButton>(d, ui::kOkButton)->click();
    });
    ASSERT_EQ(preview.size(), QSize(64, 24));
    std::tie(host.red, host.green, host.blue, host.alpha) = input;
    table.process(record, &frame);
    int differing = 0;
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 64; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * 64 + static_cast<std::size_t>(x);
            const QRgb p = preview.pixel(x, y);
            differing += qRed(p) != host.outRed[i] || qGreen(p) != host.outGreen[i] ||
                         qBlue(p) != host.outBlue[i];
        }
    }
    EXPECT_EQ(differing, 0);
}

TEST_F(QtDialog, WithoutAFrameThePreviewSaysWhy) {
    TheModule().lastFrame = PreviewFrame{};
    Open([](QDialog* d) {
        const QString status = d->findChild<QLabel*>(QStringLiteral("previewStatus"))->text();
        EXPECT_TRUE(status.contains(QStringLiteral("render a frame"))) << status.toStdString();
        Find<QAbstractButton>(d, ui::kCancelButton)->click();
    });
}

// The dialog fits its screen (the preview shrinks first), Tab goes column
// by column, and the picture stays put whatever the status text says.
TEST_F(QtDialog, TheDialogFitsItsScreenTabsByColumnAndThePictureStaysPut) {
    host.SetFrameSize(64, 24);
    const FrameAccess frame = host.Frame(0.0);
    table.process(record, &frame);
    Open([](QDialog* d) {
        const QSize room = d->screen()->availableGeometry().size();
        EXPECT_LE(d->width(), room.width());
        EXPECT_LE(d->height(), room.height());
        EXPECT_LE(d->minimumSizeHint().width(), room.width());
        EXPECT_LE(d->minimumSizeHint().height(), room.height());
        // A wide screen gives the preview its room; the controls never
        // give way while the preview can still shrink.
        auto* controls = d->findChild<QWidget*>(QStringLiteral("controls"));
        const int previewLeast = d->findChild<QWidget*>(QStringLiteral("preview"))->minimumSizeHint().width();
        EXPECT_GE(controls->width(),
                  std::min(controls->sizeHint().width(), room.width() - previewLeast - 80));

        // The columns in order: colour and affect, digital, keys, buttons.
        std::vector<int> seen;
        QWidget* w = Find<QWidget>(d, ui::kRedPercentEdit);
        for (int i = 0; i < 200 && seen.size() < 5; ++i, w = w->nextInFocusChain()) {
            for (int id : {ui::kContrastPercentEdit, ui::kFullFrameRadio, ui::kBlurCheck,
                           ui::kBlackCheck, ui::kOkButton}) {
                if (w == Find<QWidget>(d, id)) seen.push_back(id);
            }
        }
        EXPECT_EQ(seen, (std::vector<int>{ui::kContrastPercentEdit, ui::kFullFrameRadio,
                                          ui::kBlurCheck, ui::kBlackCheck, ui::kOkButton}));

        auto* picture = d->findChild<QLabel*>(QStringLiteral("previewImage"));
        QWidget* pane = d->findChild<QWidget*>(QStringLiteral("preview"));
        EXPECT_TRUE(WaitFor([pane] { return pane->property("current").toBool(); }));
        const QRect before = picture->geometry();
        Find<QLineEdit>(d, ui::kRedPercentEdit)->setText(QString());  // a long status
        EXPECT_TRUE(WaitFor([d] {
            return d->findChild<QLabel*>(QStringLiteral("previewStatus"))->text().contains("waits");
        }));
        QCoreApplication::processEvents();
        EXPECT_EQ(picture->geometry(), before);
        Find<QAbstractButton>(d, ui::kCancelButton)->click();
    });
}

// An update too slow to follow typing previews the changes at half size,
// and the full size always follows once they pause; once the full size is
// fast again, changes are previewed at full size.
TEST_F(QtDialog, AReducedPreviewNeverStays) {
    host.SetFrameSize(512, 16);
    const FrameAccess frame = host.Frame(0.0);
    table.process(record, &frame);
    Open([](QDialog* d) {
        QWidget* pane = d->findChild<QWidget*>(QStringLiteral("preview"));
        auto* red = Find<QLineEdit>(d, ui::kRedPercentEdit);
        auto typeAndWait = [&](const char* text) {
            red->setText(QString::fromUtf8(text));
            EXPECT_TRUE(WaitFor([pane] { return pane->property("current").toBool(); })) << text;
            EXPECT_EQ(pane->property("previewWidth").toInt(), 512) << text;
            return pane->property("reducedUpdates").toInt();
        };
        pane->setProperty("slowMilliseconds", 0.0);  // every full-size update is slow
        EXPECT_TRUE(WaitFor([pane] { return pane->property("current").toBool(); }));
        EXPECT_EQ(typeAndWait("90"), 1);
        pane->setProperty("slowMilliseconds", 1e9);  // and now fast
        EXPECT_EQ(typeAndWait("80"), 2);  // still halved while typing, full size after
        EXPECT_EQ(typeAndWait("70"), 2);  // full size straight away
        Find<QAbstractButton>(d, ui::kCancelButton)->click();
    });
}

// The depth map spans the depths of the frame's objects, not the
// background's, in the contact sheet's colours, with a legend; without a
// depth buffer the view says so.
TEST_F(QtDialog, TheDepthMapSpansTheObjectsAndSaysWhenThereIsNone) {
    host.SetFrameSize(64, 8);
    for (std::size_t i = 0; i < host.depth.size(); ++i) {
        const bool object = i % 64 < 32;
        host.alpha[i] = object ? 255 : 0;
        host.depth[i] = object ? static_cast<float>(40 + (i % 64) * 2) : 1000.0f;
    }
    FrameAccess frame = host.Frame(0.0);
    table.process(record, &frame);
    Open([](QDialog* d) {
        auto* legend = d->findChild<QLabel*>(QStringLiteral("depthLegend"));
        EXPECT_EQ(legend->property("nearest").toDouble(), 40.0);
        EXPECT_EQ(legend->property("farthest").toDouble(), 102.0);
        EXPECT_TRUE(legend->text().contains("Near 40") && legend->text().contains("far 102"));
        auto* mode = d->findChild<QComboBox*>(QStringLiteral("previewMode"));
        mode->setCurrentIndex(3);
        EXPECT_TRUE(legend->isVisible());
        const QImage shown = d->findChild<QLabel*>(QStringLiteral("previewImage"))->pixmap().toImage();
        // The nearest object red, the background black.
        const QRgb nearest = shown.pixel(1, shown.height() / 2);
        EXPECT_GT(qRed(nearest), 150);
        EXPECT_LT(qBlue(nearest), 100);
        EXPECT_EQ(shown.pixel(shown.width() - 2, shown.height() / 2), qRgb(0, 0, 0));
        Find<QAbstractButton>(d, ui::kCancelButton)->click();
    });
    frame.getFloatLine = nullptr;  // no depth buffer
    table.process(record, &frame);
    Open([](QDialog* d) {
        auto* mode = d->findChild<QComboBox*>(QStringLiteral("previewMode"));
        EXPECT_TRUE(mode->itemText(3).contains("no depth")) << mode->itemText(3).toStdString();
        Find<QAbstractButton>(d, ui::kCancelButton)->click();
    });
}

// Typing keeps to digits (and a minus sign where it means something); an
// out-of-range or empty box shows as invalid, and OK says why and stores
// nothing.
TEST_F(QtDialog, InvalidInputIsRefusedWithItsReason) {
    const FilterSettings before = *record;
    Open([](QDialog* d) {
        auto* red = Find<QLineEdit>(d, ui::kRedPercentEdit);
        auto* gamma = Find<QLineEdit>(d, ui::kGammaPercentEdit);
        int at = 0;
        for (QString text : {QStringLiteral("-5"), QStringLiteral("12a"), QStringLiteral("abc")}) {
            EXPECT_EQ(red->validator()->validate(text, at), QValidator::Invalid) << text.toStdString();
        }
        QString negative = QStringLiteral("-5");
        EXPECT_EQ(gamma->validator()->validate(negative, at), QValidator::Acceptable);
        red->setText(QString());
        EXPECT_TRUE(red->property("invalid").toBool());
        EXPECT_TRUE(red->toolTip().startsWith(QStringLiteral("Red% is empty")));
        QString message;
        WhenModal<QMessageBox>([&message](QMessageBox* box) {
            message = box->text();
            box->accept();
        });
        Find<QAbstractButton>(d, ui::kOkButton)->click();
        EXPECT_TRUE(WaitFor([&message] { return !message.isEmpty(); }));
        EXPECT_EQ(message.toStdString(),
                  "Red% is empty: enter a whole number from 0 to 2147483647.");
        EXPECT_TRUE(d->isVisible());
        red->setText(QStringLiteral("90"));
        EXPECT_FALSE(red->property("invalid").toBool());
        Find<QAbstractButton>(d, ui::kCancelButton)->click();
    });
    EXPECT_EQ(std::memcmp(&before, record, sizeof before), 0);
}

TEST_F(QtDialog, ChoosersAreTitledAndControlsSayWhatTheyAre) {
    Open([](QDialog* d) {
        for (int id : {ui::kRedPercentEdit, ui::kFocalPointLabel, ui::kAntialiasThresholdLabel,
                       ui::kSofterCheck, ui::kFlipVertRadio, ui::kColourRangeRadio}) {
            EXPECT_FALSE(Find<QWidget>(d, id)->toolTip().isEmpty()) << id;
        }
        EXPECT_TRUE(Find<QWidget>(d, ui::kFocalPointLabel)->toolTip().contains("focal point"));
        EXPECT_TRUE(Find<QWidget>(d, ui::kAntialiasThresholdLabel)->toolTip().contains("threshold"));
        EXPECT_TRUE(Find<QWidget>(d, ui::kBluePercentEdit)->toolTip().contains("\"3Blue%\""));

        QStringList titles;
        std::function<void(QColorDialog*)> note = [&titles, &note](QColorDialog* c) {
            titles << c->windowTitle();
            if (titles.size() < 2) WhenModal<QColorDialog>(note);
            c->reject();
        };
        WhenModal<QColorDialog>(note);
        Find<QRadioButton>(d, ui::kColourRangeRadio)->click();
        EXPECT_EQ(titles, QStringList({"Low colour", "High colour"}));

        QString about;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        WhenModal<QMessageBox>([&about, &icon](QMessageBox* box) {
            about = box->text();
            icon = box->icon();
            box->accept();
        });
        d->findChild<QAction*>(QStringLiteral("id%1").arg(ui::kMenuAbout))->trigger();
        EXPECT_TRUE(about.contains("Lumafex3") && about.contains("Version 3.0") &&
                    about.contains("All rights reserved") && about.contains("Licence"))
            << about.toStdString();
        EXPECT_EQ(icon, QMessageBox::Information);
        Find<QAbstractButton>(d, ui::kCancelButton)->click();
    });
}

// "lumafex edit": the module file's own dialog over a scene's stored lines.
TEST(EditCommand, WritesTheDialogsSettingsIntoTheScene) {
    const auto dir = std::filesystem::temp_directory_path() / "lumafex-edit-test";
    std::filesystem::create_directories(dir);
    const std::string scene = (dir / "scene.json").string();
    tool::WriteFileSafely(scene, [](std::ostream& out) {
        out << R"({"settings": ["Version 1", "Passes 1", "RedPercent 80"], "frames": []})";
    });
    WhenModal<QDialog>([](QDialog* d) {
        EXPECT_EQ(Find<QLineEdit>(d, ui::kRedPercentEdit)->text(), "80");
        Find<QLineEdit>(d, ui::kGammaPercentEdit)->setText("140");
        Find<QCheckBox>(d, ui::kNegativeCheck)->click();
        Find<QAbstractButton>(d, ui::kOkButton)->click();
    });
    tool::EditOptions options;
    options.scene = scene;
    options.module = LUMAFEX_MODULE_PATH;
    EXPECT_EQ(tool::Edit(options), 0);
    const tool::Scene edited = tool::LoadScene(scene);
    ASSERT_TRUE(edited.settings.has_value());
    const FilterSettings s = tool::SettingsFromLines(*edited.settings);
    EXPECT_EQ(s.RedPercent, 80);
    EXPECT_EQ(s.GammaPercent, 140);
    EXPECT_EQ(s.NegativeImageFlag, 1);
    std::filesystem::remove_all(dir);
}

// "lumafex edit --frame N" previews frame N with the null objects at its
// time: here a "3Negative" null switches on between frames 1 and 2.
TEST(EditCommand, PreviewsTheFrameAskedForAtItsTime) {
    const auto dir = std::filesystem::temp_directory_path() / "lumafex-edit-frame";
    std::filesystem::create_directories(dir);
    for (int frame : {1, 2}) {
        std::ofstream pam(dir / ("f" + std::to_string(frame) + ".pam"), std::ios::binary);
        pam << "P7\nWIDTH 16\nHEIGHT 8\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        for (int i = 0; i < 16 * 8; ++i) pam << '\0' << '\0' << static_cast<char>(100 * frame) << '\xff';
    }
    const std::string scene = (dir / "scene.json").string();
    tool::WriteFileSafely(scene, [](std::ostream& out) {
        out << R"({"objects": [{"name": "3Negative", "keys": [{"time": 0.05, "position": [0, 0, 0]},
                                                             {"time": 0.06, "position": [0, 0, 1]}]}],
                   "frames": [{"frame": 1, "color": "f1.pam", "output": "o1.pam"},
                              {"frame": 2, "color": "f2.pam", "output": "o2.pam"}]})";
    });
    tool::EditOptions options;
    options.scene = scene;
    options.module = LUMAFEX_MODULE_PATH;
    for (int frame : {1, 2}) {
        QImage after;
        WhenModal<QDialog>([&after](QDialog* d) {
            QWidget* pane = d->findChild<QWidget*>(QStringLiteral("preview"));
            EXPECT_TRUE(WaitFor([pane] { return pane->property("current").toBool(); }));
            after = pane->property("afterImage").value<QImage>();
            Find<QAbstractButton>(d, ui::kCancelButton)->click();
        });
        options.frame = frame;
        EXPECT_EQ(tool::Edit(options), 0);
        ASSERT_EQ(after.size(), QSize(16, 8)) << frame;
        // Frame 1 as it is (blue 100); frame 2 (blue 200) negated by the null.
        EXPECT_EQ(after.pixel(3, 3), frame == 1 ? qRgb(0, 0, 100) : qRgb(255, 255, 55)) << frame;
    }
    options.frame = 3;
    EXPECT_THROW(tool::Edit(options), std::invalid_argument);
    std::filesystem::remove_all(dir);
}

// With --frame N the null objects' values show at frame N's time, OK
// without a change stores none of them, and a frame whose image is missing
// still opens the dialog, which names the image.
TEST(EditCommand, ShowsNullValuesAtTheFramesTimeAndNamesAMissingImage) {
    const auto dir = std::filesystem::temp_directory_path() / "lumafex-edit-nulls";
    std::filesystem::create_directories(dir);
    {
        std::ofstream pam(dir / "f24.pam", std::ios::binary);
        pam << "P7\nWIDTH 16\nHEIGHT 8\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
        for (int i = 0; i < 16 * 8 * 4; ++i) pam << '\x80';
    }
    const std::string scene = (dir / "scene.json").string();
    const std::string text = R"({"objects": [{"name": "3FocalPoint", "keys": [{"time": 0, "position": [0, 0, 55]},
                                                                   {"time": 1, "position": [0, 0, 175]}]}],
                   "filters": {"DOFBlurFocalPoint": 100},
                   "frames": [{"frame": 24, "color": "f24.pam", "output": "o24.pam"},
                              {"frame": 25, "color": "gone.pam", "output": "o25.pam"}]})";
    tool::WriteFileSafely(scene, [&](std::ostream& out) { out << text; });
    tool::EditOptions options;
    options.scene = scene;
    options.module = LUMAFEX_MODULE_PATH;
    options.frame = 24;
    QString focal, tip;
    WhenModal<QDialog>([&](QDialog* d) {
        focal = Find<QLineEdit>(d, ui::kFocalPointEdit)->text();
        tip = Find<QLineEdit>(d, ui::kFocalPointEdit)->toolTip();
        EXPECT_EQ(Find<QLineEdit>(d, ui::kFocalPointEdit)->property("driven").toString(), "3FocalPoint");
        Find<QAbstractButton>(d, ui::kOkButton)->click();
    });
    EXPECT_EQ(tool::Edit(options), 0);
    EXPECT_EQ(focal, "175");
    EXPECT_TRUE(tip.contains("driven by \"3FocalPoint\"") && tip.contains("1.00 s"))
        << tip.toStdString();
    std::ifstream in(scene, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);

    options.frame = 25;
    QString status;
    WhenModal<QDialog>([&status](QDialog* d) {
        status = d->findChild<QLabel*>(QStringLiteral("previewStatus"))->text();
        Find<QAbstractButton>(d, ui::kCancelButton)->click();
    });
    EXPECT_EQ(tool::Edit(options), 0);
    EXPECT_TRUE(status.contains("frame 25") && status.contains("gone.pam")) << status.toStdString();
    std::filesystem::remove_all(dir);
}

// The documentation's picture of the Qt dialog: "lumafex edit" over the
// demo scene at frame 12, split view, focused by its null objects.
TEST(EditCommand, Screenshot) {
    const auto dir = std::filesystem::temp_directory_path() / "lumafex-qt-screenshot";
    std::filesystem::remove_all(dir);
    tool::DemoOptions demo;
    demo.dir = dir.string();
    demo.module = LUMAFEX_MODULE_PATH;
    demo.verbosity = tool::Verbosity::Quiet;
    ASSERT_EQ(tool::RunDemo(demo), 0);
    WhenModal<QDialog>([](QDialog* d) {
        d->resize(1180, 560);
        QWidget* pane = d->findChild<QWidget*>(QStringLiteral("preview"));
        EXPECT_TRUE(WaitFor([pane] { return pane->property("current").toBool(); }));
        d->findChild<QComboBox*>(QStringLiteral("previewMode"))->setCurrentIndex(2);
        QCoreApplication::processEvents();
        EXPECT_TRUE(d->grab().save(QStringLiteral(LUMAFEX_SCREENSHOT)));
        Find<QAbstractButton>(d, ui::kCancelButton)->click();
    });
    tool::EditOptions options;
    options.scene = (dir / "demo-scene.json").string();
    options.module = LUMAFEX_MODULE_PATH;
    options.frame = 12;
    EXPECT_EQ(tool::Edit(options), 0);
    EXPECT_TRUE(std::filesystem::exists(LUMAFEX_SCREENSHOT));
    std::filesystem::remove_all(dir);
}

// Cancel, and OK with nothing changed, leave the scene file byte for byte,
// Cancel even after the colour choosers wrote the module's record.
TEST(EditCommand, LeavesTheSceneAloneWhenNothingChanged) {
    const auto dir = std::filesystem::temp_directory_path() / "lumafex-edit-unchanged";
    std::filesystem::create_directories(dir);
    const std::string scene = (dir / "scene.json").string();
    const std::string text =
        "{ \"frames\":[],\n\t\"settings\" : [\"Version 1\", \"Passes 1\", \"RedPercent 80\"] }";
    for (int button : {ui::kCancelButton, ui::kOkButton}) {
        tool::WriteFileSafely(scene, [&](std::ostream& out) { out << text; });
        WhenModal<QDialog>([button](QDialog* d) {
            Find<QLineEdit>(d, ui::kGammaPercentEdit)->setText(button == ui::kOkButton ? "100" : "140");
            if (button == ui::kCancelButton) {
                int chooser = 0;
                std::function<void(QColorDialog*)> pick = [&chooser, &pick](QColorDialog* c) {
                    c->setCurrentColor(QColor(9, 9, 9 + chooser));
                    if (++chooser < 2) WhenModal<QColorDialog>(pick);
                    c->accept();
                };
                WhenModal<QColorDialog>(pick);
                Find<QRadioButton>(d, ui::kColourRangeRadio)->click();
            }
            Find<QAbstractButton>(d, button)->click();
        });
        tool::EditOptions options;
        options.scene = scene;
        options.module = LUMAFEX_MODULE_PATH;
        EXPECT_EQ(tool::Edit(options), 0);
        std::ifstream in(scene, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text) << button;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace lumafex

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
