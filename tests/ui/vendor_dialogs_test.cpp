// Widget tests of the Online Version Check dialog and the Upgrade Wizard under the offscreen
// platform: the texts and enabling of the dialog while checking and with results, and the
// wizard's page flow, buttons and transfer fields, with recording hooks.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <string>
#include <vector>

#include "ui/dialogs/upgrade_wizard.h"
#include "ui/dialogs/version_check_dialog.h"

namespace tarnvelox::ui {
namespace {

update::VendorState vendor_values(int32_t version, int32_t build, const std::string& url) {
    update::VendorState state;
    state.latest_version = version;
    state.latest_build = build;
    state.setup_url = url;
    return state;
}

TEST(VersionCheckDialogTest, CheckingDisablesOkAndUpgradeAndRunsTheMarqueeInTheLatestFields) {
    VersionCheckDialog d(nullptr);
    EXPECT_EQ(d.your_version()->text(), "Tarnvelox v1.00");
    EXPECT_EQ(d.your_build()->text(), "Build: 005");
    for (QPushButton* b :
         {d.upgrade_button(), d.history_button(), d.ok_button(), d.cancel_button()}) {
        EXPECT_EQ(b->accessibleName(), b->text());
    }
    d.show_checking();
    EXPECT_EQ(d.windowTitle(), "Connecting to Host. Please Wait.........");
    EXPECT_FALSE(d.ok_button()->isEnabled());
    EXPECT_FALSE(d.upgrade_button()->isEnabled());
    EXPECT_TRUE(d.cancel_button()->isEnabled());
    d.show_activity("  >>>  ");
    EXPECT_EQ(d.latest_version()->text(), "  >>>  ");
    EXPECT_EQ(d.latest_build()->text(), "  >>>  ");

    d.show_results(vendor_values(101, 7, "https://dl.example/setup.tar.gz"));
    EXPECT_EQ(d.windowTitle(), "Tarnvelox - Online Version Check");
    EXPECT_TRUE(d.ok_button()->isEnabled());
    EXPECT_EQ(d.latest_version()->text(), "Tarnvelox v1.01");
    EXPECT_EQ(d.latest_build()->text(), "Build: 007");
    // The marquee stops with the check: a late tick leaves the results alone.
    d.show_activity("  >>>  ");
    EXPECT_EQ(d.latest_version()->text(), "Tarnvelox v1.01");
}

TEST(VersionCheckDialogTest, UpgradeIsOfferedOnlyWithASetupUrlAndANewerLevel) {
    const std::string url = "https://dl.example/setup.tar.gz";
    const struct {
        update::VendorState values;
        bool offered;
        const char* version;
        const char* build;
    } rows[] = {
        {vendor_values(0, 0, std::string()), false, "", ""},
        {vendor_values(100, 5, url), false, "", "Build: 005"},
        {vendor_values(100, 6, url), true, "", "Build: 006"},
        {vendor_values(100, 7, url), true, "", "Build: 007"},
        {vendor_values(101, 0, std::string()), false, "Tarnvelox v1.01", ""},
        {vendor_values(101, 0, url), true, "Tarnvelox v1.01", ""},
        {vendor_values(99, 9, url), false, "", "Build: 009"},
        {vendor_values(210, 12, url), true, "Tarnvelox v2.10", "Build: 012"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.values.latest_version) + " build " +
                     std::to_string(row.values.latest_build) + " url " + row.values.setup_url);
        VersionCheckDialog d(nullptr);
        d.show_checking();
        d.show_results(row.values);
        EXPECT_EQ(d.upgrade_button()->isEnabled(), row.offered);
        EXPECT_EQ(d.latest_version()->text(), row.version);
        EXPECT_EQ(d.latest_build()->text(), row.build);
    }
}

TEST(VersionCheckDialogTest, UpgradeClosesTheDialogAndAsksForTheWizard) {
    VersionCheckDialog d(nullptr);
    QSignalSpy upgrade(&d, &VersionCheckDialog::upgrade_requested);
    QSignalSpy history(&d, &VersionCheckDialog::history_requested);
    d.show();
    d.show_results(vendor_values(101, 1, "https://dl.example/setup.tar.gz"));
    d.history_button()->click();
    EXPECT_EQ(history.count(), 1);
    EXPECT_TRUE(d.isVisible());
    d.upgrade_button()->click();
    EXPECT_EQ(upgrade.count(), 1);
    EXPECT_FALSE(d.isVisible());
}

// A wizard whose hooks record what was asked of them.
struct WizardRecorder {
    std::vector<std::string> calls;
    bool folder_opens = true;
    UpgradeWizardHooks hooks() {
        return {
            [this] { calls.emplace_back("download page"); },
            [this] { calls.emplace_back("start"); },
            [this] { calls.emplace_back("stop"); },
            [this](const std::string& folder) {
                calls.push_back("folder " + folder);
                return folder_opens;
            },
        };
    }
};

TEST(UpgradeWizardTest, PagesFollowNextAndBackWithTheirButtonsEnabledAsTheyAllow) {
    WizardRecorder rec;
    UpgradeWizard w(rec.hooks(), nullptr);
    EXPECT_EQ(w.windowTitle(), "Tarnvelox Upgrade Wizard");
    for (QPushButton* b :
         {w.back_button(), w.cancel_button(), w.next_button(), w.download_button()}) {
        EXPECT_EQ(b->accessibleName(), QString(b->text()).remove('&'));
    }
    const struct {
        const char* step;
        QPushButton* button;
        int page;
        bool back;
        bool next;
        std::vector<std::string> calls;
    } steps[] = {
        {"start", nullptr, 1, false, true, {}},
        {"next", w.next_button(), 2, true, true, {}},
        {"download", w.download_button(), 2, true, true, {"download page"}},
        {"back", w.back_button(), 1, false, true, {}},
        {"next", w.next_button(), 2, true, true, {}},
        {"next", w.next_button(), 3, true, true, {}},
        {"next", w.next_button(), 4, true, false, {"start"}},
        {"back from the transfer", w.back_button(), 2, true, true, {"stop"}},
        {"next", w.next_button(), 3, true, true, {}},
        {"next", w.next_button(), 4, true, false, {"start"}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.step);
        rec.calls.clear();
        if (step.button != nullptr) step.button->click();
        EXPECT_EQ(w.page(), step.page);
        EXPECT_EQ(w.back_button()->isEnabled(), step.back);
        EXPECT_EQ(w.next_button()->isEnabled(), step.next);
        EXPECT_TRUE(w.cancel_button()->isEnabled());
        EXPECT_EQ(rec.calls, step.calls);
    }
    EXPECT_EQ(w.windowTitle(), "Connecting to Host. Please Wait.........");
    EXPECT_TRUE(w.page_text(1).startsWith("A new version of Tarnvelox is now available"));
    EXPECT_TRUE(w.page_text(4).startsWith("Downloading Setup File. Please wait........."));
}

TEST(UpgradeWizardTest, TransferFillsPageFourAndTheFinishedFileIsShownNeverRun) {
    WizardRecorder rec;
    UpgradeWizard w(rec.hooks(), nullptr);
    for (int i = 0; i < 3; ++i) w.next_button()->click();
    ASSERT_EQ(w.page(), kDownloadPage);
    EXPECT_EQ(w.expected_size()->text(), "Unknown");
    EXPECT_EQ(w.bytes_received()->text(), "0");
    w.download_started(7000);
    w.download_progress(1000);
    EXPECT_EQ(w.windowTitle(), "Downloading Upgrade File. Please Wait.........");
    EXPECT_EQ(w.expected_size()->text(), "7000");
    EXPECT_EQ(w.bytes_received()->text(), "1000");
    EXPECT_EQ(w.progress()->text().size(), 5);
    // A body longer than announced never draws more than the full bar.
    w.download_progress(9000);
    EXPECT_EQ(w.progress()->text().size(), kProgressBlocks);

    rec.calls.clear();
    w.download_finished("/home/ann/.local/share/tarnvelox/downloads/setup.tar.gz");
    EXPECT_EQ(w.page(), 5);
    EXPECT_FALSE(w.back_button()->isEnabled());
    EXPECT_TRUE(w.page_text(5).contains("/home/ann/.local/share/tarnvelox/downloads/setup.tar.gz"));
    EXPECT_FALSE(w.page_text(5).contains("execute"));
    w.next_button()->click();
    EXPECT_EQ(rec.calls,
              std::vector<std::string>{"folder /home/ann/.local/share/tarnvelox/downloads"});
    EXPECT_EQ(w.page(), kWizardFinished);
}

TEST(UpgradeWizardTest, AFolderThatCannotBeOpenedLeadsToTheManualWay) {
    WizardRecorder rec;
    rec.folder_opens = false;
    UpgradeWizard w(rec.hooks(), nullptr);
    for (int i = 0; i < 3; ++i) w.next_button()->click();
    w.download_finished("/tmp/downloads/setup.tar.gz");
    w.next_button()->click();
    EXPECT_EQ(w.page(), 6);
    EXPECT_FALSE(w.back_button()->isEnabled());
    rec.calls.clear();
    w.next_button()->click();
    EXPECT_EQ(rec.calls, std::vector<std::string>{"download page"});
    EXPECT_EQ(w.page(), kWizardFinished);
}

TEST(UpgradeWizardTest, CancelStopsARunningTransferOnlyAndEndsTheWizard) {
    for (const bool during_transfer : {false, true}) {
        SCOPED_TRACE(during_transfer ? "during the transfer" : "on page 2");
        WizardRecorder rec;
        UpgradeWizard w(rec.hooks(), nullptr);
        w.show();
        for (int i = 0; i < (during_transfer ? 3 : 1); ++i) w.next_button()->click();
        rec.calls.clear();
        w.cancel_button()->click();
        EXPECT_EQ(w.page(), 0);
        EXPECT_FALSE(w.isVisible());
        EXPECT_EQ(rec.calls,
                  during_transfer ? std::vector<std::string>{"stop"} : std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace tarnvelox::ui

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
