#pragma once

// The Preferences dialog ("Tarnvelox Preferences": OK, Cancel): the browser, the network, the
// result lists and the way pages are fetched and read. It only edits values; the caller puts
// what OK answers into the settings (app::apply_preferences) and makes it act. Modal, and
// usable while a harvest runs.

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "app/preferences.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace tarnvelox::ui {

class PreferencesDialog : public QDialog {
    Q_OBJECT

  public:
    // `browsers`: the browser programs found on this system; the list shows them with the
    // current browser, sorted, without repeats.
    PreferencesDialog(const app::Preferences& prefs, const std::vector<std::string>& browsers,
                      QWidget* parent);
    // The values as edited; meaningful once the dialog was accepted.
    [[nodiscard]] app::Preferences values() const;

    QComboBox* browser() const { return browser_; }
    QToolButton* browse_button() const { return browse_; }
    QLineEdit* connections() const { return connections_; }
    QLineEdit* proxy() const { return proxy_; }
    QLineEdit* port() const { return port_; }
    QLineEdit* timeout() const { return timeout_; }
    QRadioButton* existing_window() const { return existing_window_; }
    QRadioButton* new_window() const { return new_window_; }
    QCheckBox* display_map() const { return display_map_; }
    QCheckBox* disable_caching() const { return disable_caching_; }
    QLineEdit* maxlist() const { return maxlist_; }
    QCheckBox* robots() const { return robots_; }
    QCheckBox* modern() const { return modern_; }
    QPushButton* ok_button() const { return ok_; }
    QPushButton* cancel_button() const { return cancel_; }

  private:
    void choose_program();

    QComboBox* browser_ = nullptr;
    QToolButton* browse_ = nullptr;
    QLineEdit* connections_ = nullptr;
    QLineEdit* proxy_ = nullptr;
    QLineEdit* port_ = nullptr;
    QLineEdit* timeout_ = nullptr;
    QRadioButton* existing_window_ = nullptr;
    QRadioButton* new_window_ = nullptr;
    QCheckBox* display_map_ = nullptr;
    QCheckBox* disable_caching_ = nullptr;
    QLineEdit* maxlist_ = nullptr;
    QCheckBox* robots_ = nullptr;
    QCheckBox* modern_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// Runs the Preferences dialog modally over `parent`, showing `prefs`: the edited values, or
// nothing when it was cancelled, closed or Escape was pressed.
[[nodiscard]] std::optional<app::Preferences> run_preferences_dialog(
    QWidget* parent, const app::Preferences& prefs, const std::vector<std::string>& browsers);

}  // namespace tarnvelox::ui
