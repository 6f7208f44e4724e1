// Feeds arbitrary statement texts to the named-parameter parser, read both
// as UTF-8 and as UTF-16 so that lone surrogates and odd code units come too.

#include "db/named_params.h"

#include <QSet>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void check(const QString& sql)
{
    const db::PositionalSql out = db::toPositional(sql);
    // Names come once each, upper-cased, and each is bound by its $n.
    require(QSet<QString>(out.names.begin(), out.names.end()).size() == out.names.size());
    for (qsizetype i = 0; i < out.names.size(); ++i) {
        require(!out.names[i].isEmpty());
        require(out.names[i] == out.names[i].toUpper());
        require(out.sql.contains(QLatin1Char('$') + QString::number(i + 1)));
    }
    // Without a colon there is nothing to replace.
    if (!sql.contains(QLatin1Char(':')))
        require(out.sql == sql && out.names.isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    check(QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * sizeof(char16_t)); // the input may be unaligned
    check(QString::fromStdU16String(units));
    return 0;
}
