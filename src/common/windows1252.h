#pragma once
// Text written on the store's Windows machines: UTF-8, or else the 8-bit
// code page Windows-1252 (the INI file, byte values bound to text columns).

#include <QByteArray>
#include <QString>
#include <optional>

namespace common {

bool isUtf8(const QByteArray& bytes);
QString fromWindows1252(const QByteArray& bytes);

// The byte that reads back as `ch`, or nothing when the code page has none.
std::optional<char> windows1252Byte(QChar ch);
// The whole text in the code page, or nothing when a character has no byte.
std::optional<QByteArray> toWindows1252(const QString& text);

} // namespace common
