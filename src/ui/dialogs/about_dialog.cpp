#include "ui/dialogs/about_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>

#include "app/product.h"

namespace tarnvelox::ui {

namespace {

using app::kBuildNumber;
using app::kProductName;
using app::kProductVersion;

}  // namespace

AboutDialog::AboutDialog(int32_t release, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString("About ") + kProductName);
    setAccessibleName(windowTitle());
    char release_text[16];
    std::snprintf(release_text, sizeof release_text, "%03i", static_cast<int>(release));
    auto* layout = new QVBoxLayout(this);
    for (const QString& text : {QString("%1 version %2").arg(kProductName, kProductVersion),
                                QString("Build: ") + kBuildNumber, QString(release_text)}) {
        auto* label = new QLabel(text, this);
        label->setAccessibleName(text);
        layout->addWidget(label);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName("OK");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

}  // namespace tarnvelox::ui
