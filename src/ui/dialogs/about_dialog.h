#pragma once

// The About dialog: the product's name, version and build.

#include <QDialog>
#include <cstdint>

namespace tarnvelox::ui {

// "About Tarnvelox": the product, version and build, and the settings' release number.
class AboutDialog : public QDialog {
    Q_OBJECT

  public:
    AboutDialog(int32_t release, QWidget* parent);
};

}  // namespace tarnvelox::ui
