#pragma once
// The statement cycle with its values already bound: prepare, then open or
// execute.

#include "db/query.h"

namespace sales {

// Opens `q` and says whether it found a row; the cursor stands on the first.
inline bool openFindsRow(db::Query& q)
{
    q.prepare();
    q.open();
    return !q.isEmpty();
}

inline void execute(db::Query& q)
{
    q.prepare();
    q.exec();
}

} // namespace sales
