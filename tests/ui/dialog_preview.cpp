// Shows one of the Export, Import and Preferences dialogs at its default size for a look or a
// screenshot: `dialog_preview export`, `dialog_preview import [merge mode 0-2]` or
// `dialog_preview preferences`. Not a test; it closes by itself after a few seconds.

#include <QApplication>
#include <QRadioButton>
#include <QTimer>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ui/dialogs/export_dialog.h"
#include "ui/dialogs/import_dialog.h"
#include "ui/dialogs/preferences_dialog.h"

namespace {

// Long enough to take a screenshot from a script, short enough never to be left behind.
constexpr int kShowForMs = 8000;

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const tarnvelox::exchange::ItemFilter filter{"au,nz,com", "webmaster@*", ""};
    const bool import = argc > 1 && std::strcmp(argv[1], "import") == 0;
    std::unique_ptr<QDialog> dialog;
    if (argc > 1 && std::strcmp(argv[1], "preferences") == 0) {
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
