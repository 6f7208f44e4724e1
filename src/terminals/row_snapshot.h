#pragma once
// The rows of a LICENCA_IF list copied out before the probes run. A row that
// cannot be read keeps its error, raised when the pass reaches that row, so
// the rows before it are handled as a one-by-one pass would handle them.

#include "terminals/licenca_row.h"
#include "terminals/probe.h"

#include <exception>
#include <vector>

namespace db {
class Dataset;
}

namespace terminals {

struct RowRead {
    LicencaRow row;
    std::exception_ptr error;

    // The row, or its reading error raised.
    const LicencaRow& get() const
    {
        if (error)
            std::rethrow_exception(error);
        return row;
    }
};

// Every row from the first to the end; the set is left at its end.
std::vector<RowRead> readRows(db::Dataset& list);

// A row's probe target (an unreadable row probes nothing).
inline Endpoint endpointOf(const RowRead& r)
{
    return r.error ? Endpoint{} : Endpoint{r.row.ip, r.row.porta};
}

} // namespace terminals
