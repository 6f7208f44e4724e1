#pragma once
// A statement with ":NAME" parameters bound to one connection. The cycle the
// program uses everywhere: set the text, bind by name, prepare, open or exec.

#include "db/dataset.h"
#include "db/value.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace db {

class Connection;
class ResultData;

class Query : public Dataset {
public:
    Query();
    explicit Query(Connection& connection);
    ~Query() override;
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    void setConnection(Connection& connection);
    Connection* connection() const { return connection_; }

    // Replacing the text closes the result and forgets every bound value.
    void setText(const QString& sql);
    void clear();
    void addLine(const QString& line); // lines are joined with line breaks
    QString text() const;

    // Binding a name that is not in the text raises UsageError. Names match
    // without case; a name used twice in the text takes one value.
    void bind(const QString& name, Value value);
    void bindText(const QString& name, const QString& v) { bind(name, v); }
    void bindInteger(const QString& name, qint64 v) { bind(name, v); }
    void bindFloat(const QString& name, double v) { bind(name, v); }
    void bindDate(const QString& name, const QDate& v) { bind(name, v); }
    void bindTime(const QString& name, const QTime& v) { bind(name, v); }
    void bindDateTime(const QString& name, const QDateTime& v) { bind(name, v); }
    void bindBytes(const QString& name, const QByteArray& v) { bind(name, v); }
    void bindNull(const QString& name) { bind(name, Null{}); }
    // The same for names written in the code: no text is built per value.
    void bind(const char* name, Value value);
    void bindText(const char* name, const QString& v) { bind(name, v); }
    void bindInteger(const char* name, qint64 v) { bind(name, v); }
    void bindFloat(const char* name, double v) { bind(name, v); }
    void bindDate(const char* name, const QDate& v) { bind(name, v); }
    void bindTime(const char* name, const QTime& v) { bind(name, v); }
    void bindDateTime(const char* name, const QDateTime& v) { bind(name, v); }
    void bindBytes(const char* name, const QByteArray& v) { bind(name, v); }
    void bindNull(const char* name) { bind(name, Null{}); }
    QStringList parameterNames() const;

    void prepare();  // parses the text; the server side is cached per text
    void open();     // runs and stands on the first row
    void exec();     // runs; a result set, if any, is dropped
    void close();
    bool isOpen() const;
    void refresh();  // runs the same text with the same values again

    // Opens the queries, all of one connection, in one exchange with the
    // server; each then stands on its first row as after open(). The first
    // failure is raised and leaves every one of them closed.
    static void openTogether(const std::vector<Query*>& queries);

    // Dataset
    int fieldCount() const override;
    QString fieldName(int column) const override;
    FieldKind fieldKind(int column) const override;
    void first() override;
    void next() override;
    bool eof() const override;
    int recordCount() const override;
    bool isNull(int column) const override;
    QString text(int column) const override;
    int fieldIndex(const QString& name) const override;
    using Dataset::field;

    // The whole current result (null when closed), for units of src/db
    // that read it directly.
    std::shared_ptr<ResultData> resultData() const;

private:
    friend class Pipeline;  // sends the bound text and hands back its result
    friend class ReadBatch; // the same, on several connections at once

    void parseIfNeeded();
    std::vector<Value> orderedValues() const;
    bool hasCell(int column) const;

    Connection* connection_ = nullptr;
    QStringList lines_;
    bool parsed_ = false;
    QString positionalSql_;
    QStringList names_;          // upper-cased, in order of first use
    std::vector<Value> values_;  // one per name
    std::vector<bool> bound_;
    std::shared_ptr<ResultData> result_;
    int row_ = 0;
    bool eof_ = true;
};

} // namespace db
