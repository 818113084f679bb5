#pragma once

// The program's texts are 8-bit byte strings; Qt's are UTF-16. Pages and files are mostly UTF-8
// today, but older ones are Latin-1: a text that is not valid UTF-8 is shown as Latin-1, so
// every byte shows as some character and nothing is lost on the way to the screen.

#include <QString>
#include <QStringDecoder>
#include <string>
#include <string_view>

namespace tarnvelox::platform::qt {

inline QString to_qstring(std::string_view bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!utf8.hasError()) return text;
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string to_bytes(const QString& text) { return text.toUtf8().toStdString(); }

}  // namespace tarnvelox::platform::qt
