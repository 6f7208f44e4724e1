// Feeds arbitrary bytes to the INI reader as the contents of Quibor.ini: any
// encoding, line ends, sections and keys a hand-edited file may hold.

#include "config/ini_file.h"
#include "config/ini_keys.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// What every value read must be: trimmed, on one line.
void checkValue(const QString& value)
{
    require(value == value.trimmed());
    require(!value.contains(QLatin1Char('\n')) && !value.contains(QLatin1Char('\r')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray contents(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString section = app::iniSecaoConexao();
    for (const QString& key : {app::iniServerName(), app::iniPorta(), app::iniBaseName()})
        checkValue(app::iniValue(contents, section, key));
    for (const QString& key : {app::iniUserName(), app::iniPassword()}) {
        const QString stored = app::iniValue(contents, section, key);
        checkValue(stored);
        require(app::Decodifica(stored, app::kIniShift).size() == stored.size());
    }

    // A section and a key named by the input itself: its first line, split
    // at the first '='.
    const qsizetype end = contents.indexOf('\n');
    const QString first = QString::fromUtf8(contents.left(end < 0 ? contents.size() : end));
    const qsizetype eq = first.indexOf(QLatin1Char('='));
    if (eq >= 0)
        checkValue(app::iniValue(contents, first.left(eq), first.mid(eq + 1)));
    return 0;
}
