#include "db/result_data.h"

namespace db {
namespace {

// Type OIDs of the server's built-in types (pg_type.dat); stable across
// releases, and the client library does not export names for them.
constexpr Oid kBool = 16;
constexpr Oid kBytea = 17;
constexpr Oid kInt8 = 20;
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;
constexpr Oid kOid = 26;
constexpr Oid kFloat4 = 700;
constexpr Oid kFloat8 = 701;
constexpr Oid kDate = 1082;
constexpr Oid kTime = 1083;
constexpr Oid kTimestamp = 1114;
constexpr Oid kTimestampTz = 1184;
constexpr Oid kTimeTz = 1266;
constexpr Oid kNumeric = 1700;

} // namespace

FieldKind fieldKindForType(Oid type)
{
    switch (type) {
    case kBool: return FieldKind::Boolean;
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid: return FieldKind::Integer;
    case kFloat4:
    case kFloat8: return FieldKind::Float;
    case kNumeric: return FieldKind::Numeric;
    case kDate: return FieldKind::Date;
    case kTime:
    case kTimeTz: return FieldKind::Time;
    case kTimestamp:
    case kTimestampTz: return FieldKind::DateTime;
    case kBytea: return FieldKind::Bytes;
    default: return FieldKind::Text;
    }
}

ResultData::ResultData(PgResultPtr result)
    : result_(std::move(result))
{
    PGresult* res = result_.get();
    rows_ = PQntuples(res);
    const int columns = PQnfields(res);
    kinds_.reserve(columns);
    for (int c = 0; c < columns; ++c)
        kinds_.push_back(fieldKindForType(PQftype(res, c)));
}

void ResultData::nameColumns() const
{
    // Most statements are never asked for a column by name (inserts, row
    // tests): their names are only read when someone asks.
    if (named_)
        return;
    PGresult* res = result_.get();
    const int columns = columnCount();
    names_.reserve(columns);
    for (int c = 0; c < columns; ++c) {
        const QString name = QString::fromUtf8(PQfname(res, c));
        names_.append(name);
        const QString key = name.toUpper();
        if (!byUpperName_.contains(key))
            byUpperName_.insert(key, c);
    }
    named_ = true;
}

const QStringList& ResultData::columnNames() const
{
    nameColumns();
    return names_;
}

int ResultData::columnIndex(const QString& name) const
{
    nameColumns();
    return byUpperName_.value(name.toUpper(), -1);
}

QString ResultData::text(int row, int column) const
{
    return QString::fromUtf8(raw(row, column), rawLength(row, column));
}

} // namespace db
