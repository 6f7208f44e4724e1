#include "db/prepared_cache.h"

namespace db {

PreparedStatement* PreparedCache::find(const QString& sql)
{
    auto it = entries_.find(sql);
    if (it == entries_.end())
        return nullptr;
    if (it->use != recency_.begin())
        recency_.splice(recency_.begin(), recency_, it->use);
    return &it->statement;
}

std::optional<PreparedStatement> PreparedCache::insert(const QString& sql, PreparedStatement statement)
{
    erase(sql);
    std::optional<PreparedStatement> evicted;
    if (capacity_ > 0 && static_cast<std::size_t>(entries_.size()) >= capacity_) {
        const QString oldest = recency_.back();
        auto it = entries_.find(oldest);
        evicted.emplace(std::move(it->statement));
        recency_.erase(it->use);
        entries_.erase(it);
    }
    recency_.push_front(sql);
    entries_.insert(sql, Entry{std::move(statement), recency_.begin()});
    return evicted;
}

void PreparedCache::erase(const QString& sql)
{
    auto it = entries_.find(sql);
    if (it == entries_.end())
        return;
    recency_.erase(it->use);
    entries_.erase(it);
}

void PreparedCache::clear()
{
    entries_.clear();
    recency_.clear();
}

} // namespace db
