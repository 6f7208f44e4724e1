#include "terminals/row_snapshot.h"

#include "db/dataset.h"

namespace terminals {

std::vector<RowRead> readRows(db::Dataset& list)
{
    std::vector<RowRead> rows;
    for (list.first(); !list.eof(); list.next()) {
        RowRead r;
        try {
            r.row = LicencaRow::read(list);
        } catch (...) {
            r.error = std::current_exception();
        }
        rows.push_back(std::move(r));
    }
    return rows;
}

} // namespace terminals
