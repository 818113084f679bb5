#include "platform/qt/qt_desktop.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
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

std::optional<FileDialogAnswer> QtDesktop::file_dialog(const FileDialogRequest& request) {
    QFileDialog dialog(parent_, to_qstring(request.caption));
    dialog.setAcceptMode(request.mode == FileDialogRequest::Mode::Save ? QFileDialog::AcceptSave
                                                                       : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.must_exist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwrite_prompt);
    // The list shows each entry's own text; the patterns Qt matches follow it in brackets,
    // which this option keeps out of sight.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    QStringList filters;
    for (const FileType& type : request.types) {
        QString patterns = to_qstring(type.pattern);
        patterns.replace(';', ' ');
        filters << to_qstring(type.entry).trimmed() + " (" + patterns + ")";
    }
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const int preselected = std::clamp(request.selected_type, 1, int(filters.size()));
        dialog.selectNameFilter(filters[preselected - 1]);
    }
    const QFileInfo start(to_qstring(request.start));
    if (request.start.empty()) {
        dialog.setDirectory(QDir::currentPath());
    } else if (start.isDir()) {
        dialog.setDirectory(start.absoluteFilePath());
    } else {
        dialog.setDirectory(start.absolutePath());
        dialog.selectFile(start.fileName());
    }
    // The program's fixed file names are relative to the working folder: whatever the
    // dialog does, that folder is the same afterwards.
    const QString working_folder = QDir::currentPath();
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (QDir::currentPath() != working_folder) QDir::setCurrent(working_folder);
    if (!accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const QString path = dialog.selectedFiles().constFirst();
    if (path.isEmpty()) return std::nullopt;
    FileDialogAnswer answer;
    answer.path = std::string(QFile::encodeName(path).constData());
    // The dialog names the chosen type by its whole filter or, details hidden, by its entry.
    const QString chosen = dialog.selectedNameFilter().trimmed();
    for (qsizetype i = 0; i < filters.size(); ++i) {
        const QString entry = to_qstring(request.types[std::size_t(i)].entry).trimmed();
        if (chosen == filters[i] || chosen == entry) answer.type = int(i) + 1;
    }
    return answer;
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
