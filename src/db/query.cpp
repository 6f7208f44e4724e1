#include "db/query.h"

#include "db/connection.h"
#include "db/errors.h"
#include "db/named_params.h"
#include "db/result_data.h"

namespace db {

Query::Query() = default;

Query::Query(Connection& connection)
    : connection_(&connection)
{
}

Query::~Query() = default;

void Query::setConnection(Connection& connection)
{
    connection_ = &connection;
}

void Query::setText(const QString& sql)
{
    // The program sets the same text before every run; keep its parse then,
    // but the values go all the same.
    const bool same = parsed_ && lines_.size() == 1 && lines_.front() == sql;
    lines_ = QStringList{sql};
    close();
    if (!same)
        parsed_ = false;
    values_.assign(values_.size(), Null{});
    bound_.assign(bound_.size(), false);
}

void Query::clear()
{
    lines_.clear();
    close();
    parsed_ = false;
}

void Query::addLine(const QString& line)
{
    lines_.append(line);
    close();
    parsed_ = false;
}

QString Query::text() const
{
    return lines_.join(u'\n');
}

void Query::parseIfNeeded()
{
    if (parsed_)
        return;
    PositionalSql positional = toPositional(text());
    positionalSql_ = std::move(positional.sql);
    names_ = std::move(positional.names);
    values_.assign(names_.size(), Null{});
    bound_.assign(names_.size(), false);
    parsed_ = true;
}

void Query::bind(const QString& name, Value value)
{
    parseIfNeeded();
    qsizetype index = -1;
    for (qsizetype i = 0; i < names_.size() && index < 0; ++i)
        if (names_[i].compare(name, Qt::CaseInsensitive) == 0)
            index = i;
    if (index < 0)
        throw UsageError(QStringLiteral("Parameter '%1' not found").arg(name));
    values_[index] = std::move(value);
    bound_[index] = true;
}

void Query::bind(const char* name, Value value)
{
    const QLatin1StringView latin(name);
    for (const char c : latin) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            bind(QString::fromUtf8(name), std::move(value));
            return;
        }
    }
    parseIfNeeded();
    for (qsizetype i = 0; i < names_.size(); ++i) {
        if (names_[i].compare(latin, Qt::CaseInsensitive) == 0) {
            values_[i] = std::move(value);
            bound_[i] = true;
            return;
        }
    }
    bind(QString(latin), std::move(value)); // raises, naming it
}

QStringList Query::parameterNames() const
{
    if (parsed_)
        return names_;
    return toPositional(text()).names;
}

void Query::prepare()
{
    // The server-side statement is made (once per text and connection) by
    // the first run; here the text is only checked for its parameters.
    parseIfNeeded();
}

std::vector<Value> Query::orderedValues() const
{
    for (std::size_t i = 0; i < bound_.size(); ++i)
        if (!bound_[i])
            throw UsageError(QStringLiteral("Parameter '%1' has no value").arg(names_[static_cast<qsizetype>(i)]));
    return values_;
}

void Query::open()
{
    if (!connection_)
        throw UsageError(QStringLiteral("The statement has no connection"));
    parseIfNeeded();
    close();
    result_ = connection_->execute(positionalSql_, orderedValues());
    first();
}

void Query::exec()
{
    if (!connection_)
        throw UsageError(QStringLiteral("The statement has no connection"));
    parseIfNeeded();
    close();
    connection_->execute(positionalSql_, orderedValues());
}

void Query::openTogether(const std::vector<Query*>& queries)
{
    if (queries.empty())
        return;
    Connection* connection = queries.front()->connection_;
    std::vector<Connection::Statement> statements;
    for (Query* q : queries) {
        if (!q->connection_ || q->connection_ != connection)
            throw UsageError(QStringLiteral("Statements opened together need one connection"));
        q->parseIfNeeded();
        q->close();
        statements.push_back({q->positionalSql_, q->orderedValues()});
    }
    std::vector<std::shared_ptr<ResultData>> results = connection->executeTogether(statements);
    for (std::size_t i = 0; i < queries.size(); ++i) {
        queries[i]->result_ = std::move(results[i]);
        queries[i]->first();
    }
}

void Query::close()
{
    result_.reset();
    row_ = 0;
    eof_ = true;
}

bool Query::isOpen() const
{
    return result_ != nullptr;
}

void Query::refresh()
{
    open();
}

int Query::fieldCount() const
{
    return result_ ? result_->columnCount() : 0;
}

QString Query::fieldName(int column) const
{
    return result_ ? result_->columnNames().value(column) : QString();
}

FieldKind Query::fieldKind(int column) const
{
    if (!result_ || column < 0 || column >= result_->columnCount())
        return FieldKind::Text;
    return result_->kind(column);
}

void Query::first()
{
    row_ = 0;
    eof_ = recordCount() == 0;
}

void Query::next()
{
    // Past the last row the cursor stays on it, with the end flag set.
    if (row_ + 1 < recordCount())
        ++row_;
    else
        eof_ = true;
}

bool Query::eof() const
{
    return eof_;
}

int Query::recordCount() const
{
    return result_ ? result_->rowCount() : 0;
}

bool Query::hasCell(int column) const
{
    return result_ && row_ < result_->rowCount() && column >= 0 && column < result_->columnCount();
}

bool Query::isNull(int column) const
{
    // An empty set reads as nulls rather than failing.
    return !hasCell(column) || result_->isNull(row_, column);
}

QString Query::text(int column) const
{
    return hasCell(column) ? result_->text(row_, column) : QString();
}

int Query::fieldIndex(const QString& name) const
{
    return result_ ? result_->columnIndex(name) : -1;
}

std::shared_ptr<ResultData> Query::resultData() const
{
    return result_;
}

} // namespace db
