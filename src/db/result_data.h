#pragma once
// The rows a statement returned, held whole (list queries read everything at
// open). Shared between the statement that ran it and whoever still reads it.

#include "db/dataset.h"
#include "db/pg_handles.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

namespace db {

// Column kind for a server type OID; unknown types read as text.
FieldKind fieldKindForType(Oid type);

class ResultData {
public:
    explicit ResultData(PgResultPtr result);

    PGresult* get() const { return result_.get(); }

    int rowCount() const { return rows_; }
    int columnCount() const { return static_cast<int>(kinds_.size()); }
    const QStringList& columnNames() const;
    Oid typeOid(int column) const { return PQftype(result_.get(), column); }
    FieldKind kind(int column) const { return kinds_[column]; }

    // -1 when absent; the first column of that name wins, without case.
    int columnIndex(const QString& name) const;

    bool isNull(int row, int column) const { return PQgetisnull(result_.get(), row, column) != 0; }
    // Text as the server wrote it (client encoding is always UTF-8).
    QString text(int row, int column) const;
    const char* raw(int row, int column) const { return PQgetvalue(result_.get(), row, column); }
    int rawLength(int row, int column) const { return PQgetlength(result_.get(), row, column); }

private:
    void nameColumns() const;

    PgResultPtr result_;
    int rows_ = 0;
    std::vector<FieldKind> kinds_;
    mutable bool named_ = false;
    mutable QStringList names_;
    mutable QHash<QString, int> byUpperName_;
};

} // namespace db
