#pragma once

// Helpers the tab pages share for their labelled fields.

#include <QString>
#include <optional>
#include <string>

class QFormLayout;
class QLineEdit;
class QWidget;

namespace tarnvelox::ui {

// The visible text of a control without its mnemonic marks: what a screen reader should say.
QString spoken(const QString& text);

// A labelled line edit added to `form`: the label is the field's buddy and its text the
// field's name.
QLineEdit* add_field(QFormLayout* form, const QString& label_text, QWidget* parent);

// The field's text, or none when it is empty.
std::optional<std::string> text_or_none(const QLineEdit* field);

}  // namespace tarnvelox::ui
