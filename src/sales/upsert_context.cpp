#include "sales/upsert_context.h"

#include "common/event_pump.h"

#include "db/errors.h"
#include "db/link_failure.h"
#include "sales/statement_cycle.h"

namespace sales {

UpsertContext::UpsertContext(db::Connection& server_, ImportCells& cells_)
    : server(server_)
    , cells(cells_)
    , pipeline_(server_)
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
    givenBack.push_back(keyOf(source, keyColumns));
}

RowKey UpsertContext::keyOf(const SourceRow& source, const QStringList& keyColumns)
{
    RowKey key;
    key.reserve(keyColumns.size());
    for (const QString& column : keyColumns)
        key.push_back(source.dataset().field(column).value());
    return key;
}

void UpsertContext::sendWrite(
    db::Query& write, std::function<void()> succeeded, std::function<void(const std::exception&)> failed)
{
    if (!pipeline_.usable()) {
        // Inside a transaction, or before the link is up: one at a time.
        settle();
        try {
            write.prepare();
            write.exec();
        } catch (const std::exception& e) {
            if (!failed || db::isLinkFailure(e))
                throw;
            failed(e);
            return;
        }
        succeeded();
        return;
    }
    try {
        pipeline_.send(write);
    } catch (const std::exception& e) {
        report();
        if (!failed || db::isLinkFailure(e))
            throw;
        failed(e);
        return;
    }
    held_.push_back({ std::move(succeeded), std::move(failed) });
}

bool UpsertContext::findsRow(db::Query& read)
{
    if (!pipeline_.pending())
        return openFindsRow(read);
    read.prepare();
    try {
        pipeline_.open(read);
    } catch (...) {
        // The read's own error; a held write's that ends the run comes first.
        report();
        throw;
    }
    report();
    return !read.isEmpty();
}

void UpsertContext::settle()
{
    if (!pipeline_.pending())
        return;
    pipeline_.settle();
    report();
}

void UpsertContext::report()
{
    std::exception_ptr raised;
    std::exception_ptr linkLost;
    for (const std::exception_ptr& outcome : pipeline_.takeOutcomes()) {
        if (held_.empty())
            break;
        HeldWrite write = std::move(held_.front());
        held_.pop_front();
        if (!outcome) {
            write.succeeded();
            continue;
        }
        try {
            std::rethrow_exception(outcome);
        } catch (const std::exception& e) {
            if (db::isLinkFailure(e)) {
                // Nothing is wrong with the row, and it may or may not have
                // arrived: the run ends and the next one settles it.
                if (!linkLost)
                    linkLost = outcome;
            } else if (!write.failed) {
                if (!raised)
                    raised = outcome;
            } else {
                write.failed(e);
            }
        }
    }
    if (linkLost)
        std::rethrow_exception(linkLost);
    if (raised)
        std::rethrow_exception(raised);
}

void UpsertContext::pumpEvents()
{
    settle();
    common::pumpEvents();
}

void UpsertContext::settleQuietly() noexcept
{
    try {
        settle();
    } catch (...) {
        held_.clear();
    }
}

qint64 findSale(UpsertContext& ctx, const char* lookupSql, const SaleLink& link)
{
    if (const qint64 known = ctx.knownSales.find(link))
        return known;
    db::Query& lookup = ctx.statement(lookupSql);
    lookup.bindInteger("TRANSACAO_ORIGEM", link.origem);
    lookup.bindInteger("BANCO_ID", link.bancoId);
    lookup.bindDateTime("DATA", link.dtTrans);
    if (!ctx.findsRow(lookup))
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
