#include "ui/pages/page_fields.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

#include "platform/qt/qt_text.h"

namespace tarnvelox::ui {

// The visible text of a control without its mnemonic marks: what a screen reader should say.
QString spoken(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

// A labelled line edit: the label is the field's buddy and its text the field's name.
QLineEdit* add_field(QFormLayout* form, const QString& label_text, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    auto* label = new QLabel(label_text, parent);
    label->setBuddy(field);
    field->setAccessibleName(spoken(label_text));
    form->addRow(label, field);
    return field;
}

std::optional<std::string> text_or_none(const QLineEdit* field) {
    if (field->text().isEmpty()) return std::nullopt;
    return platform::qt::to_bytes(field->text());
}

}  // namespace tarnvelox::ui
