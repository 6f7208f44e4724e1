#pragma once
// Text written on the store's Windows machines: UTF-8, or else the 8-bit
// code page Windows-1252 (the INI file, byte values bound to text columns).

#include <QByteArray>
#include <QString>

namespace common {

bool isUtf8(const QByteArray& bytes);
QString fromWindows1252(const QByteArray& bytes);

} // namespace common
