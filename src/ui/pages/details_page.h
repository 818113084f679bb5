#pragma once

// The Details tab page: the record last clicked in a list view.

#include <QWidget>
#include <array>

#include "store/item_record.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarnvelox::ui {

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
