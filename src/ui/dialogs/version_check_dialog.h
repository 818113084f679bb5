#pragma once

// The Online Version Check dialog: this copy's version and build beside the latest ones the
// vendor announced, with "Upgrade >", "History >", "OK" and "Cancel". It only shows what it is
// given; the window runs the check and decides what each button does (the signals below).
// Modeless while the check runs, so the event loop keeps delivering the transfer's events.

#include <QDialog>
#include <cstdint>
#include <string>

#include "update/vendor_state.h"

class QLabel;
class QPushButton;

namespace tarnvelox::ui {

class VersionCheckDialog : public QDialog {
    Q_OBJECT

  public:
    explicit VersionCheckDialog(QWidget* parent);

    // While the check runs: the connecting caption, OK and "Upgrade >" disabled, the latest
    // version fields left to the marquee.
    void show_checking();
    // One step of the marquee that runs while the check does, in both latest-version fields.
    void show_activity(const QString& text);
    // The check has ended (or its answer was already known): the results and the caption.
    void show_results(const update::VendorState& values);
    [[nodiscard]] bool checking() const { return checking_; }

    QLabel* your_version() const { return your_version_; }
    QLabel* your_build() const { return your_build_; }
    QLabel* latest_version() const { return latest_version_; }
    QLabel* latest_build() const { return latest_build_; }
    QPushButton* upgrade_button() const { return upgrade_; }
    QPushButton* history_button() const { return history_; }
    QPushButton* ok_button() const { return ok_; }
    QPushButton* cancel_button() const { return cancel_; }

  Q_SIGNALS:
    // "Upgrade >": the dialog has closed; the wizard is to start.
    void upgrade_requested();
    // "History >": the version history is to be opened in the browser.
    void history_requested();

  private:
    bool checking_ = false;
    QLabel* your_version_ = nullptr;
    QLabel* your_build_ = nullptr;
    QLabel* latest_version_ = nullptr;
    QLabel* latest_build_ = nullptr;
    QPushButton* upgrade_ = nullptr;
    QPushButton* history_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

inline constexpr const char* kConnectingCaption = "Connecting to Host. Please Wait.........";
inline constexpr const char* kVersionCheckCaption = "Tarnvelox - Online Version Check";

}  // namespace tarnvelox::ui
