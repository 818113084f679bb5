#pragma once

// The Harvest tab page.
// Each tab page shows the values it edits (fill) and puts them back (commit) when it is left,
// when a harvest starts and when the window closes; it keeps no values of its own between those
// calls. Fields carry their label's text as their accessible name through the label buddy.

#include <QWidget>
#include <array>

#include "harvest/harvest_env.h"

class QLineEdit;
class QRadioButton;

namespace tarnvelox::ui {

// "Harvest": "Starting URL:", "Crawl if contains:", "Extract if contains:" and "Limit to:".
class HarvestPage : public QWidget {
    Q_OBJECT

  public:
    explicit HarvestPage(QWidget* parent = nullptr);
    void fill(const harvest::SearchTexts& search);
    void commit(harvest::SearchTexts& search) const;

    QLineEdit* url_field() const { return url_; }
    QRadioButton* scope_button(int scope) const { return scopes_[static_cast<std::size_t>(scope)]; }

  Q_SIGNALS:
    // Enter in a field: the page's default action (Start).
    void submitted();

  private:
    void url_edited();

    QLineEdit* url_;
    QLineEdit* crawl_;
    QLineEdit* extract_;
    std::array<QRadioButton*, 5> scopes_{};
};

}  // namespace tarnvelox::ui
