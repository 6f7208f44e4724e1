#pragma once
// Rows read field by field: the common face of a statement's result set and
// an in-memory table, so readers (the copy engine, the windows' grids) need
// not know where the rows come from.

#include "db/value.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace db {

enum class FieldKind { Text, Integer, Float, Numeric, Boolean, Date, Time, DateTime, Bytes };

class Dataset;

// One column of the current row. Nulls read as "", 0, 0.0 and zeroDateTime().
class Field {
public:
    Field(const Dataset& set, int column) : set_(&set), column_(column) {}
    QString asString() const;     // booleans read "True"/"False"
    // Raises UsageError ("'A1' is not a valid integer value") for a text that
    // is not a whole number; a float or numeric rounds to the nearest whole
    // number, halves away from zero (12.5 reads 13); booleans read 1/0.
    qint64 asInteger() const;
    double asFloat() const;       // dates read as days since zeroDateTime()
    // Dates, times of day (on zeroDateTime()'s day), date-times and ISO
    // texts; a zone offset is dropped, keeping the session's wall clock.
    QDateTime asDateTime() const;
    QByteArray asBytes() const;   // bytea as its bytes, anything else as UTF-8 text
    bool isNull() const;
    Value value() const;          // typed value, for copying into another row

private:
    const Dataset* set_;
    int column_;
};

class Dataset {
public:
    virtual ~Dataset() = default;

    virtual int fieldCount() const = 0;
    virtual QString fieldName(int column) const = 0;
    virtual FieldKind fieldKind(int column) const = 0;

    virtual void first() = 0;
    virtual void next() = 0;
    virtual bool eof() const = 0;
    virtual int recordCount() const = 0;
    bool isEmpty() const { return recordCount() == 0; }

    // Raw reading of the current row; text as the server wrote it.
    virtual bool isNull(int column) const = 0;
    virtual QString text(int column) const = 0;

    // -1 when absent; names match without case.
    virtual int fieldIndex(const QString& name) const = 0;
    // Raises UsageError naming the field when absent.
    Field field(const QString& name) const;
    Field field(int column) const { return Field(*this, column); }
};

} // namespace db
