// Widget tests of the Preferences dialog under the offscreen platform: its fields and their
// names, the port that follows the proxy, and what OK and each way of cancelling do to the
// window's settings.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "fakes/fake_desktop.h"
#include "store/temp_dir.h"
#include "ui/dialogs/preferences_dialog.h"
#include "ui/main_window.h"

namespace tarnvelox::ui {
namespace {

namespace fs = std::filesystem;

// The text of the label whose buddy is `field`, without its mnemonic mark.
QString label_of(const QWidget* field) {
    for (const QLabel* label : field->window()->findChildren<QLabel*>()) {
        if (label->buddy() == field) return QString(label->text()).remove('&');
    }
    return {};
}

app::Preferences sample_prefs() {
    app::Settings settings;
    settings.browser = "/usr/bin/firefox";
    settings.newwin = 3;
    settings.cache = 1;
    settings.robots = 1;
    return app::preferences_of(settings);
}

TEST(PreferencesDialogTest, ShowsEveryValueUnderItsNameWithTheBrowsersSorted) {
    PreferencesDialog d(sample_prefs(), {"/usr/bin/chromium", "/usr/bin/firefox", ""}, nullptr);
    EXPECT_EQ(d.windowTitle(), "Tarnvelox Preferences");
    const struct {
        QWidget* field;
        const char* name;
        QString shown;
    } fields[] = {
        {d.browser(), "Browser:", d.browser()->currentText()},
        {d.connections(), "Number of concurrent connections:", d.connections()->text()},
        {d.proxy(), "Proxy:", d.proxy()->text()},
        {d.port(), "Port:", d.port()->text()},
        {d.timeout(), "Timeout:", d.timeout()->text()},
        {d.maxlist(), "Maximum number of items to display in list:", d.maxlist()->text()},
    };
    const char* values[] = {"/usr/bin/firefox", "10", "", "8080", "4000", "2500"};
    for (std::size_t i = 0; i < std::size(fields); ++i) {
        SCOPED_TRACE(fields[i].name);
        EXPECT_EQ(label_of(fields[i].field), fields[i].name);
        EXPECT_EQ(fields[i].field->accessibleName(), fields[i].name);
        EXPECT_EQ(fields[i].shown, values[i]);
    }
    const struct {
        QAbstractButton* button;
        const char* name;
        bool checked;
    } buttons[] = {
        {d.existing_window(), "Open in Existing Browser Window", false},
        {d.new_window(), "Open in New Browser Window", true},
        {d.display_map(), "Display MAP on completion", true},
        {d.disable_caching(), "Disable Caching Proxies", true},
        {d.robots(), "Obey robots.txt", true},
        {d.modern(), "Read pages as today's browsers do", false},
        {d.ok_button(), "OK", false},
        {d.cancel_button(), "Cancel", false},
    };
    for (const auto& b : buttons) {
        SCOPED_TRACE(b.name);
        EXPECT_EQ(QString(b.button->text()).remove('&'), b.name);
        EXPECT_EQ(b.button->accessibleName(), b.name);
        EXPECT_EQ(b.button->isChecked(), b.checked);
    }
    ASSERT_EQ(d.browser()->count(), 2);
    EXPECT_EQ(d.browser()->itemText(0), "/usr/bin/chromium");
    EXPECT_EQ(d.browser()->itemText(1), "/usr/bin/firefox");
    EXPECT_TRUE(d.browser()->isEditable());
}

TEST(PreferencesDialogTest, PortIsEnabledExactlyWhileAProxyIsNamed) {
    PreferencesDialog d(sample_prefs(), {}, nullptr);
    EXPECT_FALSE(d.port()->isEnabled());
    d.show();
    QTest::keyClicks(d.proxy(), "p");
    EXPECT_TRUE(d.port()->isEnabled());
    d.port()->setText("3128");
    QTest::keyClick(d.proxy(), Qt::Key_Backspace);
    EXPECT_FALSE(d.port()->isEnabled());
    EXPECT_EQ(d.values().port, "3128");  // still answered while disabled
}

// The window: Options "&Preferences" over a project in a folder of the test's own.
class PreferencesWindowTest : public ::testing::Test {
  protected:
    PreferencesWindowTest() : old_dir_(fs::current_path()) {
        fs::current_path(dir_.path());
        window_ = std::make_unique<MainWindow>(desktop_, std::string(app::kSettingsFile));
        window_->start_up();
        window_->show();
        window_->dispatch(cmd::kLoadProject);
    }
    ~PreferencesWindowTest() override {
        window_.reset();
        fs::current_path(old_dir_);
    }

    // Opens the Preferences from the window and does `act` on the dialog once it shows; a
    // dialog `act` left open is cancelled after a while and the test fails.
    void with_preferences(const std::function<void(PreferencesDialog&)>& act) {
        bool acted = false;
        QTimer::singleShot(0, [&] {
            auto* d = qobject_cast<PreferencesDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            acted = true;
            act(*d);
        });
        QObject guard;
        QTimer::singleShot(5000, &guard, [] {
            ADD_FAILURE() << "the dialog stayed open";
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
        });
        window_->dispatch(cmd::kPreferences);
        EXPECT_TRUE(acted);
    }
    std::string settings_file() const {
        std::ifstream in(app::kSettingsFile.data());
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    testing::TempDir dir_;
    fs::path old_dir_;
    testing::FakeDesktop desktop_;
    std::unique_ptr<MainWindow> window_;
};

// Edits every field so that a leak of any one into the settings shows.
void edit_everything(PreferencesDialog& d) {
    d.browser()->setEditText("/opt/browser");
    d.connections()->setText("0");
    d.proxy()->setText("cache.example");
    d.port()->setText("3128");
    d.timeout()->setText("100000");
    d.new_window()->setChecked(true);
    d.display_map()->setChecked(false);
    d.disable_caching()->setChecked(true);
    d.maxlist()->setText("7");
    d.robots()->setChecked(true);
    d.modern()->setChecked(true);
}

TEST_F(PreferencesWindowTest, CancelCloseAndEscapeChangeNoSetting) {
    const app::Settings before = window_->context().settings;
    const struct {
        const char* name;
        std::function<void(PreferencesDialog&)> close;
    } rows[] = {
        {"Cancel", [](PreferencesDialog& d) { d.cancel_button()->click(); }},
        {"close box", [](PreferencesDialog& d) { d.close(); }},
        {"Escape", [](PreferencesDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        with_preferences([&](PreferencesDialog& d) {
            edit_everything(d);
            row.close(d);
        });
        EXPECT_TRUE(window_->context().settings == before);
    }
}

TEST_F(PreferencesWindowTest, OkFocusedOnOpeningStoresTheValuesClampedAndWritesTheFile) {
    with_preferences([](PreferencesDialog& d) {
        d.activateWindow();  // the keyboard focus goes to active windows only
        for (int spin = 0; spin < 100 && QApplication::activeWindow() != &d; ++spin) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        EXPECT_EQ(QApplication::focusWidget(), d.ok_button());
        edit_everything(d);
        QTest::keyClick(&d, Qt::Key_Return);
    });
    const app::Settings& s = window_->context().settings;
    EXPECT_EQ(s.browser, std::optional<std::string>("/opt/browser"));
    EXPECT_EQ(s.packcount, 1);
    EXPECT_EQ(s.proxy, std::optional<std::string>("cache.example"));
    EXPECT_EQ(s.port, 3128);
    EXPECT_EQ(s.timeout, 64000);
    EXPECT_EQ(s.newwin, app::kNewWindowBit);
    EXPECT_EQ(s.cache, 1);
    EXPECT_EQ(s.maxlist, 7);
    EXPECT_EQ(s.robots, 1);
    EXPECT_EQ(s.modern, 1);
    EXPECT_NE(settings_file().find("packcount=1\nbrowser=/opt/browser\n"), std::string::npos);

    // Reopened, the dialog shows what OK stored; a count over the top comes back as 20.
    with_preferences([](PreferencesDialog& d) {
        EXPECT_TRUE(d.port()->isEnabled());
        EXPECT_EQ(d.timeout()->text(), "64000");
        EXPECT_TRUE(d.new_window()->isChecked());
        d.connections()->setText("25");
        d.ok_button()->click();
    });
    EXPECT_EQ(window_->context().settings.packcount, 20);
}

}  // namespace
}  // namespace tarnvelox::ui

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
