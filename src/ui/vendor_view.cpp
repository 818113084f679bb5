#include "ui/vendor_view.h"

#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "ui/dialogs/upgrade_wizard.h"
#include "ui/dialogs/version_check_dialog.h"
#include "ui/main_window.h"

namespace tarnvelox::ui {

VendorDialogs::VendorDialogs(QWidget* window, app::Context& ctx, app::HarvestRun& run,
                             platform::Desktop& desktop, VendorActions actions)
    : window_(window),
      ctx_(ctx),
      run_(run),
      desktop_(desktop),
      actions_(std::move(actions)) {}

void VendorDialogs::open_version_check() {
    if (dialog_ != nullptr && dialog_->isVisible()) {
        dialog_->raise();
        return;
    }
    if (dialog_ == nullptr) {
        dialog_ = new VersionCheckDialog(window_);
        connect(dialog_, &VersionCheckDialog::history_requested, this, [this] {
            if (actions_.open_page) actions_.open_page(app::kHistoryPage);
        });
        connect(dialog_, &VersionCheckDialog::upgrade_requested, this,
                &VendorDialogs::open_wizard);
        connect(dialog_, &QDialog::finished, this, &VendorDialogs::dialog_closed);
    }
    // One check a program run: a second opening shows what the first one brought.
    if (ctx_.vendor.answers_received != 0) {
        dialog_->show_results(ctx_.vendor);
        dialog_->open();
        return;
    }
    dialog_->show_checking();
    dialog_->open();
    if (run_.start_version_check() == 0) show_checked();
}

VersionCheckDialog* VendorDialogs::dialog() const { return dialog_; }

UpgradeWizard* VendorDialogs::wizard() const { return wizard_; }

bool VendorDialogs::dialog_open() const {
    return dialog_ != nullptr && dialog_->isVisible();
}

void VendorDialogs::show_activity(std::string_view text) {
    if (!dialog_open()) return;
    // The run marks the marquee's place with DEL, which today's fonts draw as an empty box:
    // a full block shows it as meant.
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QChar(0x7f), QChar(0x2588));
    dialog_->show_activity(shown);
}

void VendorDialogs::transfer_ended() {
    // Called as the run stops, inside the engine's handling: the event loop shows the end.
    QTimer::singleShot(0, this, [this] {
        if (dialog_ != nullptr && dialog_->checking()) show_checked();
        if (wizard_ != nullptr && wizard_->page() == kDownloadPage && !downloaded_) {
            wizard_->download_failed();
        }
    });
}

void VendorDialogs::show_checked() {
    if (dialog_ == nullptr) return;
    dialog_->show_results(ctx_.vendor);
    if (ctx_.vendor.answers_received != 0 || !dialog_->isVisible()) return;
    const std::string text = update::connect_error_text(vendor_page_url(app::kDownloadPage));
    QTimer::singleShot(0, this, [this, text] {
        desktop_.message_box(update::kConnectErrorCaption, text, platform::MessageIcon::Warning);
    });
}

void VendorDialogs::dialog_closed() {
    // OK or Cancel while the check runs ends it: the dialog was its only reason.
    if (dialog_ != nullptr && dialog_->checking()) {
        dialog_->show_results(ctx_.vendor);
        run_.cancel_harvest();
    }
}

void VendorDialogs::open_wizard() {
    if (wizard_ != nullptr) {
        wizard_->raise();
        return;
    }
    UpgradeWizardHooks hooks{
        [this] {
            if (actions_.open_page) actions_.open_page(app::kDownloadPage);
        },
        [this] {
            downloaded_ = false;
            if (run_.start_vendor_download(ctx_.vendor.setup_url) == 0) {
                wizard_->download_failed();
            }
        },
        [this] { run_.cancel_harvest(); },
        [this](const std::string& folder) {
            return actions_.open_folder && actions_.open_folder(folder);
        },
    };
    wizard_ = new UpgradeWizard(std::move(hooks), window_);
    wizard_->setAttribute(Qt::WA_DeleteOnClose);
    wizard_->open();
}

void VendorDialogs::show_vendor_message(const update::VendorMessage& message) {
    QTimer::singleShot(0, this, [this, message] {
        desktop_.message_box(message.caption, message.text, platform::MessageIcon::Information);
    });
}

void VendorDialogs::download_started(int32_t expected) {
    if (wizard_ != nullptr) wizard_->download_started(expected);
}

void VendorDialogs::download_progress(int32_t written, int32_t /*expected*/) {
    if (wizard_ != nullptr) wizard_->download_progress(written);
}

void VendorDialogs::download_finished(const std::string& path) {
    downloaded_ = true;
    if (wizard_ != nullptr) wizard_->download_finished(path);
}

}  // namespace tarnvelox::ui
