#pragma once
// Source rows captured as parameter texts, so a whole commit group can be
// sent after the reader has moved on.

#include "db/dataset.h"

#include <QByteArray>
#include <QStringEncoder>
#include <string>
#include <vector>

namespace db {
class ResultData;
}

namespace db::copy {

// How one source column becomes a parameter text.
struct SourceColumn {
    int index = 0;             // in the reader
    FieldKind kind = FieldKind::Text;
    bool toInteger = false;    // a decimal source feeding an integer column
};

class RowBuffer {
public:
    explicit RowBuffer(std::vector<SourceColumn> columns);

    void clear();
    // Appends the reader's current row.
    void capture(const Dataset& source);
    // Appends row `row` of a result read whole, its texts taken as the
    // server wrote them: the same as above, without the detour through
    // QString that shows over a hundred thousand rows.
    void capture(const ResultData& rows, int row);
    int rows() const { return columnCount_ == 0 ? 0 : static_cast<int>(offsets_.size()) / columnCount_; }

    // Parameter texts of `row` at the captured positions given, nullptr for
    // null. Valid until the buffer changes.
    void params(int row, const std::vector<int>& positions, std::vector<const char*>& out) const;

    // Rows [first, end) in COPY text format, columns in `positions` order.
    void appendCopyText(int first, int end, const std::vector<int>& positions, QByteArray& out) const;

private:
    void appendText(const QByteArray& text);
    void appendText(QStringView text);

    std::vector<SourceColumn> columns_;
    int columnCount_ = 0;
    std::string arena_;         // each text followed by '\0', as the client library wants
    QStringEncoder utf8_{QStringEncoder::Utf8, QStringEncoder::Flag::Stateless};
    std::vector<int> offsets_;  // into arena_, -1 for null
};

// A decimal text as a whole number, rounded half away from zero the way the
// server casts; the text itself when it is no number (the server then says why).
QByteArray integerText(const QString& decimal);

} // namespace db::copy
