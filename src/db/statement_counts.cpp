#include "db/statement_counts.h"

#include <libpq-fe.h>

#include <QByteArray>
#include <QString>

namespace db {
namespace {

StatementCounts counts;

enum class Kind { Read, Write, Begin, Commit, Rollback };

char charAt(QStringView text, qsizetype i)
{
    const char16_t c = text[i].unicode();
    return c < 128 ? static_cast<char>(c) : '\x7f';
}

char charAt(QByteArrayView text, qsizetype i) { return text[i]; }

bool mentions(QStringView sql, const char* words)
{
    return sql.contains(QLatin1String(words), Qt::CaseInsensitive);
}

bool mentions(QByteArrayView sql, const char* words)
{
    return QString::fromUtf8(sql).contains(QLatin1String(words), Qt::CaseInsensitive);
}

// The leading keyword, upper-cased, at most 10 letters.
template <typename Text>
QByteArray firstWord(Text sql)
{
    QByteArray word;
    qsizetype i = 0;
    while (i < sql.size() && QByteArrayView(" \n\t\r(").contains(charAt(sql, i)))
        ++i;
    for (; i < sql.size() && word.size() < 10; ++i) {
        const char c = charAt(sql, i);
        if (c >= 'a' && c <= 'z')
            word += static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            word += c;
        else
            break;
    }
    return word;
}

template <typename Text>
Kind kindOf(Text sql)
{
    const QByteArray word = firstWord(sql);
    if (word == "BEGIN" || word == "START")
        return Kind::Begin;
    if (word == "COMMIT" || word == "END")
        return Kind::Commit;
    if (word == "ROLLBACK")
        return mentions(sql, " TO ") ? Kind::Read : Kind::Rollback;
    if (word == "INSERT" || word == "UPDATE" || word == "DELETE" || word == "MERGE" || word == "TRUNCATE"
        || word == "CREATE" || word == "DROP" || word == "ALTER")
        return Kind::Write;
    if (word == "COPY")
        return mentions(sql, "FROM STDIN") ? Kind::Write : Kind::Read;
    // A query with data-changing parts.
    if (word == "WITH")
        return mentions(sql, "INSERT") || mentions(sql, "UPDATE") || mentions(sql, "DELETE")
                   ? Kind::Write
                   : Kind::Read;
    return Kind::Read;
}

// Counts one statement; returns whether a transaction is open after it.
template <typename Text>
bool count(Text sql, bool outside)
{
    ++counts.statements;
    switch (kindOf(sql)) {
    case Kind::Begin: return true;
    case Kind::Commit: ++counts.commits; return false;
    case Kind::Rollback: return false;
    case Kind::Write:
        if (outside)
            ++counts.commits;
        break;
    case Kind::Read: break;
    }
    return !outside;
}

bool outsideTransaction(pg_conn* conn)
{
    return PQtransactionStatus(conn) == PQTRANS_IDLE;
}

} // namespace

StatementCounts operator-(const StatementCounts& after, const StatementCounts& before)
{
    return {after.statements - before.statements, after.commits - before.commits,
            after.preparations - before.preparations};
}

StatementCounts statementCounts() { return counts; }

void countStatement(QStringView sql, bool outside) { count(sql, outside); }
void countStatement(QByteArrayView sql, bool outside) { count(sql, outside); }
void countStatement(pg_conn* conn, QStringView sql) { count(sql, outsideTransaction(conn)); }
void countStatement(pg_conn* conn, QByteArrayView sql) { count(sql, outsideTransaction(conn)); }

void countStatements(pg_conn* conn, QByteArrayView text)
{
    bool outside = outsideTransaction(conn);
    qsizetype from = 0;
    while (from <= text.size()) {
        qsizetype end = text.indexOf(QByteArrayView("; "), from);
        if (end < 0)
            end = text.size();
        outside = !count(text.sliced(from, end - from), outside);
        from = end + 2;
    }
}

void countPreparation() { ++counts.preparations; }

} // namespace db
