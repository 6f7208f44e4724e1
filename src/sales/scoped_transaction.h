#pragma once
// A transaction that rolls back unless committed, so statements that belong
// together take effect together or not at all.

#include "db/connection.h"

namespace sales {

class ScopedTransaction {
public:
    explicit ScopedTransaction(db::Connection& connection)
        : connection_(connection)
    {
        connection_.startTransaction();
    }
    ~ScopedTransaction()
    {
        if (open_) {
            try {
                connection_.rollback();
            } catch (...) {
                // The link is gone; the server has dropped the transaction.
            }
        }
    }
    ScopedTransaction(const ScopedTransaction&) = delete;
    ScopedTransaction& operator=(const ScopedTransaction&) = delete;

    void commit()
    {
        open_ = false;
        connection_.commit();
    }

private:
    db::Connection& connection_;
    bool open_ = true;
};

} // namespace sales
