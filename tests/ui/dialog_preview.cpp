// Shows one of the Export, Import and Preferences dialogs at its default size for a look or a
// screenshot: `dialog_preview export`, `dialog_preview import [merge mode 0-2]`,
// `dialog_preview preferences`, `dialog_preview version [checking]` or
// `dialog_preview wizard [page 1-6]`. Not a test; it closes by itself after a few seconds.

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ui/dialogs/export_dialog.h"
#include "ui/dialogs/import_dialog.h"
#include "ui/dialogs/preferences_dialog.h"
#include "ui/dialogs/upgrade_wizard.h"
#include "ui/dialogs/version_check_dialog.h"

namespace {

// Long enough to take a screenshot from a script, short enough never to be left behind.
constexpr int kShowForMs = 8000;

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const tarnvelox::exchange::ItemFilter filter{"au,nz,com", "webmaster@*", ""};
    const bool import = argc > 1 && std::strcmp(argv[1], "import") == 0;
    std::unique_ptr<QDialog> dialog;
    const std::string which = argc > 1 ? argv[1] : "";
    const std::string option = argc > 2 ? argv[2] : "";
    if (which == "version") {
        auto version = std::make_unique<tarnvelox::ui::VersionCheckDialog>(nullptr);
        version->show_checking();
        if (option == "checking") {
            version->show_activity("      >>>>>>>>");
        } else {
            tarnvelox::update::VendorState values;
            values.latest_version = 101;
            values.latest_build = 7;
            values.setup_url = "https://dl.tarnvelox.example/tarnv-1.01.tar.gz";
            version->show_results(values);
        }
        dialog = std::move(version);
    } else if (which == "wizard") {
        // Page 6 follows a folder that could not be opened.
        tarnvelox::ui::UpgradeWizardHooks hooks;
        hooks.open_folder = [](const std::string&) { return false; };
        auto wizard = std::make_unique<tarnvelox::ui::UpgradeWizard>(hooks, nullptr);
        const int page = option.empty() ? 1 : option[0] - '0';
        for (int i = 1; i < page && i < tarnvelox::ui::kDownloadPage; ++i) {
            wizard->next_button()->click();
        }
        if (page == tarnvelox::ui::kDownloadPage) {
            wizard->download_started(412000);
            wizard->download_progress(153000);
        } else if (page > tarnvelox::ui::kDownloadPage) {
            wizard->download_finished(
                "/home/ann/.local/share/tarnvelox/downloads/tarnv-1.01.tar.gz");
            if (page == 6) wizard->next_button()->click();
        }
        dialog = std::move(wizard);
    } else if (which == "preferences") {
        // The settings' defaults: no proxy, so the port shows disabled.
        dialog = std::make_unique<tarnvelox::ui::PreferencesDialog>(
            tarnvelox::app::preferences_of(tarnvelox::app::Settings{}),
            std::vector<std::string>{"/usr/bin/firefox", "/usr/bin/chromium"}, nullptr);
    } else if (import) {
        auto import_dialog = std::make_unique<tarnvelox::ui::ImportDialog>(filter, nullptr);
        for (int mode = 0; argc > 2 && mode < 3; ++mode) {
            if (argv[2] == std::to_string(mode))
                import_dialog->merge_button(mode)->setChecked(true);
        }
        dialog = std::move(import_dialog);
    } else {
        dialog = std::make_unique<tarnvelox::ui::ExportDialog>(filter, nullptr);
    }
    dialog->show();
    QObject::connect(dialog.get(), &QDialog::finished, &app, &QApplication::quit);
    QTimer::singleShot(kShowForMs, &app, &QApplication::quit);
    return app.exec();
}
