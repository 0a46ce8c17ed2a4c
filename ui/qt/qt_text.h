#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace qor {

// The program's UTF-8 texts as Qt shows them. Windows controls break lines
// at a carriage return of their own (the step instructions use "\r\r" for a
// blank line); Qt only at a line feed.
inline QString displayText(std::string_view text) {
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

inline std::string utf8Text(const QString& text) {
    return text.toStdString();
}

}  // namespace qor
