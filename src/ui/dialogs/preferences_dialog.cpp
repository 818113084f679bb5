#include "ui/dialogs/preferences_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/qt/qt_text.h"
#include "ui/dialogs/ok_cancel_buttons.h"

namespace tarnvelox::ui {

namespace {

using platform::qt::to_bytes;
using platform::qt::to_qstring;

// Room for a program path in the browser field, in average characters.
constexpr int kBrowserWidthChars = 36;

// The name a screen reader says for a labelled control: the label without its mnemonic.
QString spoken_label(const QString& text) { return QString(text).remove('&'); }

QLineEdit* add_field(QFormLayout* form, const QString& label_text, const std::string& value,
                     QWidget* parent) {
    auto* field = new QLineEdit(to_qstring(value), parent);
    field->setAccessibleName(spoken_label(label_text));
    auto* label = new QLabel(label_text, parent);
    label->setBuddy(field);
    form->addRow(label, field);
    return field;
}

QCheckBox* add_check(QVBoxLayout* layout, const QString& text, bool checked, QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setAccessibleName(spoken_label(text));
    box->setChecked(checked);
    layout->addWidget(box);
    return box;
}

}  // namespace

PreferencesDialog::PreferencesDialog(const app::Preferences& prefs,
                                     const std::vector<std::string>& browsers, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Tarnvelox Preferences");
    setAccessibleName(windowTitle());

    // The browser list: the current browser and the ones found, sorted, each once.
    QStringList programs;
    if (!prefs.browser.empty()) programs << to_qstring(prefs.browser);
    for (const std::string& found : browsers) {
        if (!found.empty()) programs << to_qstring(found);
    }
    programs.removeDuplicates();
    programs.sort();
    browser_ = new QComboBox(this);
    browser_->setEditable(true);
    browser_->setInsertPolicy(QComboBox::InsertAlphabetically);
    browser_->addItems(programs);
    browser_->setEditText(to_qstring(prefs.browser));
    browser_->setMinimumContentsLength(kBrowserWidthChars);
    browser_->setAccessibleName("Browser:");
    browse_ = new QToolButton(this);
    browse_->setText("...");
    browse_->setAccessibleName("Choose a Browser Program");
    browse_->setToolTip(browse_->accessibleName());
    connect(browse_, &QToolButton::clicked, this, &PreferencesDialog::choose_program);
    auto* browser_row = new QHBoxLayout;
    browser_row->addWidget(browser_, 1);
    browser_row->addWidget(browse_);
    auto* browser_label = new QLabel("&Browser:", this);
    browser_label->setBuddy(browser_);

    auto* form = new QFormLayout;
    form->addRow(browser_label, browser_row);
    connections_ = add_field(form, "Number of concurrent &connections:", prefs.connections, this);
    proxy_ = add_field(form, "&Proxy:", prefs.proxy, this);
    port_ = add_field(form, "P&ort:", prefs.port, this);
    timeout_ = add_field(form, "&Timeout:", prefs.timeout, this);
    // The port belongs to the proxy: it can be edited only while a proxy is named.
    port_->setEnabled(!prefs.proxy.empty());
    connect(proxy_, &QLineEdit::textChanged, this,
            [this](const QString& text) { port_->setEnabled(!text.isEmpty()); });

    auto* report = new QGroupBox("Report", this);
    report->setAccessibleName(report->title());
    auto* report_layout = new QVBoxLayout(report);
    existing_window_ = new QRadioButton("Open in &Existing Browser Window", report);
    new_window_ = new QRadioButton("Open in &New Browser Window", report);
    for (QRadioButton* button : {existing_window_, new_window_}) {
        button->setAccessibleName(spoken_label(button->text()));
        report_layout->addWidget(button);
    }
    (prefs.new_window ? new_window_ : existing_window_)->setChecked(true);
    display_map_ =
        add_check(report_layout, "Display &MAP on completion", prefs.display_map, report);
    disable_caching_ =
        add_check(report_layout, "&Disable Caching Proxies", prefs.disable_caching, report);

    auto* results = new QGroupBox("Results", this);
    results->setAccessibleName(results->title());
    auto* results_form = new QFormLayout;
    maxlist_ = add_field(results_form, "Ma&ximum number of items to display in list:",
                         prefs.maxlist, results);
    auto* results_layout = new QVBoxLayout(results);
    results_layout->addLayout(results_form);
    robots_ = add_check(results_layout, "Obey &robots.txt", prefs.robots, results);
    modern_ =
        add_check(results_layout, "Read pages as today's bro&wsers do", prefs.modern, results);

    QDialogButtonBox* buttons = ok_cancel_buttons(this, ok_, cancel_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(report);
    layout->addWidget(results);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    ok_->setFocus(Qt::OtherFocusReason);
}

void PreferencesDialog::choose_program() {
    const QString program = QFileDialog::getOpenFileName(this, "Choose a Browser Program",
                                                         browser_->currentText());
    if (!program.isEmpty()) browser_->setEditText(program);
}

app::Preferences PreferencesDialog::values() const {
    app::Preferences p;
    p.browser = to_bytes(browser_->currentText());
    p.connections = to_bytes(connections_->text());
    p.proxy = to_bytes(proxy_->text());
    p.port = to_bytes(port_->text());
    p.timeout = to_bytes(timeout_->text());
    p.new_window = new_window_->isChecked();
    p.display_map = display_map_->isChecked();
    p.disable_caching = disable_caching_->isChecked();
    p.maxlist = to_bytes(maxlist_->text());
    p.robots = robots_->isChecked();
    p.modern = modern_->isChecked();
    return p;
}

std::optional<app::Preferences> run_preferences_dialog(QWidget* parent,
                                                       const app::Preferences& prefs,
                                                       const std::vector<std::string>& browsers) {
    // Held by a guard: the nested event loop may close the parent, and the dialog with it.
    QPointer<PreferencesDialog> dialog = new PreferencesDialog(prefs, browsers, parent);
    const int result = dialog->exec();
    if (dialog.isNull()) return std::nullopt;
    std::optional<app::Preferences> out;
    if (result == QDialog::Accepted) out = dialog->values();
    delete dialog.data();
    return out;
}

}  // namespace tarnvelox::ui
