#pragma once
// A table held in process memory: fields and indexes defined one by one,
// rows appended and posted, read back like a result set in the order of the
// chosen index.

#include "db/dataset.h"
#include "db/value.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <vector>

namespace db {

class MemTable : public Dataset {
public:
    enum class Type { Integer, Text, Float, Date };

    void addField(const QString& name, Type type, int size = 0);
    // fields: names separated by ";" (e.g. "NOME;PR_VENCIMENTO"); a primary
    // index refuses a second row with the same key.
    void addIndex(const QString& name, const QString& fields, bool primary = false);
    void create();

    void append();
    void setText(const QString& field, const QString& v);
    void setInteger(const QString& field, qint64 v);
    void setFloat(const QString& field, double v);
    void setDateTime(const QString& field, const QDateTime& v);
    void post(); // raises UsageError on a duplicate primary key
    void cancel();

    // Orders the rows by the named index (case-insensitive text order,
    // nulls first, equal keys in insertion order); an empty name restores
    // insertion order. May be chosen before create().
    void setIndex(const QString& name);
    void emptyTable();

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

private:
    struct FieldDef { QString name; Type type; int size; };
    struct IndexDef { QString name; std::vector<int> columns; bool primary; };
    using Row = std::vector<Value>;

    int requireField(const QString& name) const;
    const Row& currentRow() const;
    void setValue(const QString& field, const Value& v);
    bool lessInIndex(std::size_t a, std::size_t b) const;
    void reorder();
    static int compareValues(const Value& a, const Value& b);

    std::vector<FieldDef> fields_;
    std::vector<IndexDef> indexes_;
    std::vector<Row> rows_;
    std::vector<std::size_t> order_;
    int activeIndex_ = -1;
    bool created_ = false;
    bool editing_ = false;
    Row pending_;
    std::size_t cursor_ = 0;
    bool eof_ = true;
    QString activeIndexName_;
    std::vector<QSet<QString>> uniqueKeys_; // per index; used by primary ones
};

} // namespace db
