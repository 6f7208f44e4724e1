#pragma once
// Read-only access to the installation's INI file, in the manner of the
// Windows profile functions: sections and keys matched without case, values
// taken as written, a missing file, section or key read as empty text.

#include <QString>

namespace app {

// Value of key `item` in section `secao` of the file `arq`, blanks around it
// trimmed; the first occurrence wins. The file is opened and closed on every
// call and never written. Files may be UTF-8 (with or without BOM), UTF-16
// with BOM, or Windows-1252, with CRLF or LF line ends.
QString LeIni(const QString& arq, const QString& secao, const QString& item);

// The text of an INI file's bytes, decoded as LeIni decodes them.
QString iniText(const QByteArray& contents);

// Name of a section line ("[Name]", blanks trimmed); text after ']' is
// ignored.
QString iniSectionName(const QString& trimmedLine);

// Whether two section or key names are the same, as LeIni compares them.
bool sameIniName(const QString& a, const QString& b);

// The same lookup in the bytes of an INI file already read.
QString iniValue(const QByteArray& contents, const QString& secao, const QString& item);

// Lowers every UTF-16 code unit of `text` by `shift`, keeping the order; the
// INI file stores the user name and password raised this way.
QString Decodifica(const QString& text, int shift);

} // namespace app
