// The Qt settings dialog opened through interface activation, driven the
// way a user would: typing into boxes, clicking boxes, radios and menu items.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>

#include "edit.h"
#include "files.h"
#include "host/handler.h"
#include "scene.h"
#include "settings_block.h"
#include "host/servers.h"
#include "support/fake_host.h"
#include "ui/control_ids.h"

namespace lumafex {
namespace {

using lumafex::testing::FakeHost;

template <typename T>
T* Find(QWidget* dialog, int id) {
    return dialog->findChild<T*>(QStringLiteral("id%1").arg(id));
}

// Runs action on the first modal widget of type T once it is showing.
template <typename T>
void WhenModal(std::function<void(T*)> action) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(w);
        }
    });
    timer->start(10);
}

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
    auto choose = [path](QFileDialog* f) {
        f->selectFile(QString::fromStdString(path));
        static_cast<QDialog*>(f)->accept();
    };
    Open([&](QDialog* d) {
        Find<QLineEdit>(d, ui::kRedPercentEdit)->setText("77");
        Find<QCheckBox>(d, ui::kKeyPrepCheck)->setCheckState(Qt::Checked);
        Find<QRadioButton>(d, ui::kKeyPrepWhiteRadio)->click();
        WhenModal<QFileDialog>(choose);
        d->findChild<QAction*>(QStringLiteral("id%1").arg(ui::kMenuSaveAs))->trigger();
        // Change the controls, then load the preset back over them.
        Find<QLineEdit>(d, ui::kRedPercentEdit)->setText("1");
        Find<QCheckBox>(d, ui::kKeyPrepCheck)->setCheckState(Qt::Unchecked);
        WhenModal<QFileDialog>(choose);
        d->findChild<QAction*>(QStringLiteral("id%1").arg(ui::kMenuOpen))->trigger();
        EXPECT_EQ(Find<QLineEdit>(d, ui::kRedPercentEdit)->text(), "77");
        Find<QAbstractButton>(d, ui::kOkButton)->click();
    });
    EXPECT_EQ(std::filesystem::file_size(path), 184u);
    EXPECT_EQ(record->RedPercent, 77);
    EXPECT_EQ(record->KeyPrepFlag, 2);
    std::filesystem::remove(path);
}

TEST_F(QtDialog, Screenshot) {
    record->BlurFlag = 1;
    record->SofterBlurFlag = 2;
    Open([](QDialog* d) {
        d->adjustSize();
        EXPECT_TRUE(d->grab().save(QStringLiteral(LUMAFEX_SCREENSHOT)));
        Find<QAbstractButton>(d, ui::kCancelButton)->click();
    });
    EXPECT_TRUE(std::filesystem::exists(LUMAFEX_SCREENSHOT));
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

// Cancel, and OK with nothing changed, leave the scene file byte for byte.
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
