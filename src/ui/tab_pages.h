#pragma once

// The four tab pages of the main window. Each page shows the values it edits (fill) and puts
// them back (commit) when it is left, when a harvest starts and when the window closes; the
// pages keep no values of their own between those calls. Fields carry their label's text as
// their accessible name through the label buddy.

#include <QWidget>
#include <array>

#include "harvest/harvest_env.h"
#include "search/engine_rows.h"
#include "store/item_list.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;

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

// "Name Search" (directories) and "Web Search" (web search engines): the text field and five
// engine rows over the engines list, with a scroll bar when there are more.
class SearchPage : public QWidget {
    Q_OBJECT

  public:
    SearchPage(search::EnginePage page, store::ItemList& engines, int engine_rows_total,
               QWidget* parent = nullptr);
    void fill(const harvest::SearchTexts& search);
    void commit(harvest::SearchTexts& search);

    QLineEdit* text_field() const { return text_; }
    QCheckBox* tick(int row) const { return ticks_[static_cast<std::size_t>(row)]; }

  Q_SIGNALS:
    void submitted();

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
};

// "Details": the fields of the record last clicked, with "&Delete" and "&Verify".
class DetailsPage : public QWidget {
    Q_OBJECT

  public:
    explicit DetailsPage(QWidget* parent = nullptr);
    // Shows `rec` (null: empty fields).
    void show_record(const store::ItemRecord* rec);
    // "&Delete" and "Ver&ify" work only while no harvest runs and a record is shown.
    void set_running(bool running);
    // A line under the fields: what Verify found (empty: none).
    void show_note(const QString& text);

    QPushButton* delete_button() const { return delete_; }
    QPushButton* verify_button() const { return verify_; }
    QLineEdit* field(int index) const { return fields_[static_cast<std::size_t>(index)]; }
    QLabel* note() const { return note_; }

  Q_SIGNALS:
    void delete_requested();
    void verify_requested();

  private:
    void update_buttons();

    std::array<QLineEdit*, 5> fields_{};  // Source, URL, Title, Modified, Size
    QPushButton* delete_;
    QPushButton* verify_;
    QLabel* note_;
    bool running_ = false;
    const store::ItemRecord* shown_ = nullptr;  // compared only: the record shown
};

}  // namespace tarnvelox::ui
