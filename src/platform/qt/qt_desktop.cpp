#include "platform/qt/qt_desktop.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QStringList>
#include <QUrl>

#include "platform/qt/qt_text.h"

namespace tarnvelox::platform::qt {

namespace {

QMessageBox::Icon qt_icon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::None:
            return QMessageBox::NoIcon;
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Question:
            return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void QtDesktop::message_box(std::string_view caption, std::string_view text, MessageIcon icon) {
    QMessageBox box(qt_icon(icon), to_qstring(caption), to_qstring(text), QMessageBox::Ok, parent_);
    box.setAccessibleName(to_qstring(caption));
    box.exec();
}

bool QtDesktop::confirm(std::string_view caption, std::string_view question) {
    QMessageBox box(QMessageBox::Question, to_qstring(caption), to_qstring(question),
                    QMessageBox::Yes | QMessageBox::No, parent_);
    box.setDefaultButton(QMessageBox::No);
    box.setAccessibleName(to_qstring(caption));
    return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> QtDesktop::open_file_dialog(std::string_view caption,
                                                       std::string_view start,
                                                       std::string_view filter) {
    const QString path = QFileDialog::getOpenFileName(parent_, to_qstring(caption),
                                                      to_qstring(start), to_qstring(filter));
    if (path.isEmpty()) return std::nullopt;
    return std::string(QFile::encodeName(path).constData());
}

std::optional<std::string> QtDesktop::save_file_dialog(std::string_view caption,
                                                       std::string_view start,
                                                       std::string_view filter) {
    const QString path = QFileDialog::getSaveFileName(parent_, to_qstring(caption),
                                                      to_qstring(start), to_qstring(filter));
    if (path.isEmpty()) return std::nullopt;
    return std::string(QFile::encodeName(path).constData());
}

bool QtDesktop::set_clipboard_text(std::string_view text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr) return false;
    clipboard->setText(to_qstring(text));
    return true;
}

bool QtDesktop::clipboard_has_text() {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard != nullptr ? clipboard->mimeData() : nullptr;
    return data != nullptr && data->hasText() && !data->text().isEmpty();
}

void QtDesktop::busy_cursor(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (QApplication::overrideCursor() != nullptr) {
        QApplication::restoreOverrideCursor();
    }
}

bool QtDesktop::open_url(std::string_view url) {
    return QDesktopServices::openUrl(
        QUrl::fromEncoded(QByteArray(url.data(), static_cast<qsizetype>(url.size()))));
}

bool QtDesktop::start_program(std::string_view program, const std::vector<std::string>& arguments) {
    QStringList args;
    for (const std::string& a : arguments) args << to_qstring(a);
    return QProcess::startDetached(to_qstring(program), args);
}

}  // namespace tarnvelox::platform::qt
