#pragma once

// The Name Search and Web Search tab pages.
// Each tab page shows the values it edits (fill) and puts them back (commit) when it is left,
// when a harvest starts and when the window closes; it keeps no values of its own between those
// calls. Fields carry their label's text as their accessible name through the label buddy.

#include <QWidget>
#include <array>

#include "harvest/harvest_env.h"
#include "search/engine_rows.h"
#include "store/item_list.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace tarnvelox::ui {

// "Name Search" (directories) and "Web Search" (web search engines): the text field and five
// engine rows over the engines list, with a scroll bar when there are more.
class SearchPage : public QWidget {
    Q_OBJECT

  public:
    SearchPage(search::EnginePage page, store::ItemList& engines, QWidget* parent = nullptr);
    void fill(const harvest::SearchTexts& search);
    void commit(harvest::SearchTexts& search);
    // The ">>" buttons are disabled while a harvest runs: a press would end it.
    void set_running(bool running);

    QLineEdit* text_field() const { return text_; }
    QCheckBox* tick(int row) const { return ticks_[static_cast<std::size_t>(row)]; }
    QPushButton* page_button(int row) const { return more_[static_cast<std::size_t>(row)]; }
    QScrollBar* scroll_bar() const { return scroll_; }

  Q_SIGNALS:
    void submitted();
    // ">>" of a row: the engine record it shows (borrowed from the engines list).
    void page_requested(const store::ItemRecord* engine);

  private:
    void show_rows();
    void commit_ticks();
    void scrolled(int value);

    const search::EnginePage page_;
    store::ItemList& engines_;
    QLineEdit* text_;
    std::array<QCheckBox*, search::kEngineRows> ticks_{};
    std::array<QPushButton*, search::kEngineRows> more_{};
    QScrollBar* scroll_;
    search::EngineRows rows_;
    int first_row_ = 0;
    bool running_ = false;
};

}  // namespace tarnvelox::ui
