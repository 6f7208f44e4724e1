#include "sales/upsert_context.h"

#include "db/errors.h"

namespace sales {

UpsertContext::UpsertContext(db::Connection& server_, ImportCells& cells_)
    : server(server_)
    , cells(cells_)
{
}

db::Query& UpsertContext::statement(const char* sql)
{
    auto it = statements_.find(std::string_view(sql));
    if (it == statements_.end()) {
        auto q = std::make_unique<db::Query>(server);
        q->setText(QString::fromUtf8(sql));
        it = statements_.emplace(sql, std::move(q)).first;
    }
    return *it->second;
}

void UpsertContext::giveBack(const SourceRow& source, const QStringList& keyColumns)
{
    RowKey key;
    key.reserve(keyColumns.size());
    for (const QString& column : keyColumns)
        key.push_back(source.dataset().field(column).value());
    givenBack.push_back(std::move(key));
}

qint64 findSale(UpsertContext& ctx, const char* lookupSql, const SaleLink& link)
{
    if (const qint64 known = ctx.knownSales.find(link))
        return known;
    db::Query& lookup = ctx.statement(lookupSql);
    lookup.bindInteger("TRANSACAO_ORIGEM", link.origem);
    lookup.bindInteger("BANCO_ID", link.bancoId);
    lookup.bindDateTime("DATA", link.dtTrans);
    lookup.prepare();
    lookup.open();
    if (lookup.isEmpty())
        return 0;
    const qint64 id = lookup.field("TRANSACAO_ID").asInteger();
    ctx.knownSales.remember(link, id);
    return id;
}

db::Field SourceRow::field(const char* column) const
{
    auto it = positions_.find(std::string_view(column));
    if (it == positions_.end()) {
        const int index = set_.fieldIndex(QLatin1String(column));
        if (index < 0)
            return set_.field(QLatin1String(column)); // raises, naming the column
        it = positions_.emplace(column, index).first;
    }
    return set_.field(it->second);
}

QString SourceRow::text(const char* column) const { return field(column).asString(); }

qint64 SourceRow::integer(const char* column) const { return field(column).asInteger(); }

double SourceRow::decimal(const char* column) const { return field(column).asFloat(); }

QDateTime SourceRow::dateTime(const char* column) const { return field(column).asDateTime(); }

QByteArray SourceRow::bytes(const char* column) const { return bytesOf(field(column)); }

QByteArray bytesOf(const db::Field& field)
{
    const db::Value v = field.value();
    if (const auto* raw = std::get_if<QByteArray>(&v))
        return *raw;
    return field.asString().toLocal8Bit();
}

qint64 wholeNumber(const QString& text)
{
    bool ok = false;
    const qint64 n = text.trimmed().toLongLong(&ok);
    if (!ok)
        throw db::UsageError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return n;
}

} // namespace sales
