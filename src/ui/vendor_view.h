#pragma once

// The window's side of the update service: the Online Version Check dialog and the Upgrade
// Wizard, driven by the run's version check and setup download, and the boxes the update
// host's answers ask for. Boxes and results wait for the event loop: the service reports from
// inside response handling, where a modal box would run the transfer under it. Borrows the
// window, the context, the run and the desktop for its whole life; GUI thread only.

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/context.h"
#include "app/product.h"
#include "app/run_control.h"
#include "platform/desktop.h"
#include "update/vendor_service.h"

class QWidget;

namespace tarnvelox::ui {

class UpgradeWizard;
class VersionCheckDialog;

// What the dialogs hand back to the window.
struct VendorActions {
    std::function<void(const app::VendorPage& page)> open_page;  // History, download page
    // Opens the folder that holds the downloaded setup file; false when it could not.
    std::function<bool(const std::string& folder)> open_folder;
};

class VendorDialogs final : public QObject, public update::VendorView {
  public:
    VendorDialogs(QWidget* window, app::Context& ctx, app::HarvestRun& run,
                  platform::Desktop& desktop, VendorActions actions);

    // File "Online Version Check": the stored results when an answer came in this run, else
    // a check with the dialog showing it runs.
    void open_version_check();
    // Whether the dialog is open (the run's marquee shows in it then).
    [[nodiscard]] bool dialog_open() const;
    void show_activity(std::string_view text);
    // A check or a download has ended, however it ended.
    void transfer_ended();

    void show_vendor_message(const update::VendorMessage& message) override;
    void download_started(int32_t expected) override;
    void download_progress(int32_t written, int32_t expected) override;
    void download_finished(const std::string& path) override;

    // The dialog and the wizard while they exist, else null.
    [[nodiscard]] VersionCheckDialog* dialog() const;
    [[nodiscard]] UpgradeWizard* wizard() const;

  private:
    void show_checked();
    void dialog_closed();
    void open_wizard();

    QWidget* window_;
    app::Context& ctx_;
    app::HarvestRun& run_;
    platform::Desktop& desktop_;
    VendorActions actions_;
    QPointer<VersionCheckDialog> dialog_;
    QPointer<UpgradeWizard> wizard_;
    bool downloaded_ = false;  // the wizard's transfer brought its file
};

}  // namespace tarnvelox::ui
