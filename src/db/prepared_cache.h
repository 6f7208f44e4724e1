#pragma once
// Server-side prepared statements of one connection, by statement text.
// Bounded: the least recently used one is dropped when it is full, so a
// program that builds texts with values inside cannot grow the server
// session without end.

#include "db/prepared_statement.h"

#include <QHash>
#include <QString>
#include <list>
#include <optional>

namespace db {

class PreparedCache {
public:
    explicit PreparedCache(std::size_t capacity = 256) : capacity_(capacity) {}

    // Marks the entry as recently used; nullptr when absent.
    PreparedStatement* find(const QString& sql);
    // Stores a new entry; returns the entry pushed out, which the caller
    // deallocates on the server.
    std::optional<PreparedStatement> insert(const QString& sql, PreparedStatement statement);
    void erase(const QString& sql);
    void clear();
    std::size_t size() const { return static_cast<std::size_t>(entries_.size()); }

private:
    struct Entry {
        PreparedStatement statement;
        std::list<QString>::iterator use;
    };
    std::size_t capacity_;
    QHash<QString, Entry> entries_;
    std::list<QString> recency_; // front: most recently used
};

} // namespace db
