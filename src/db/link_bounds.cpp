#include "db/link_bounds.h"

namespace db {
namespace {

LinkBounds& current()
{
    static LinkBounds bounds;
    return bounds;
}

} // namespace

const LinkBounds& linkBounds()
{
    return current();
}

void setLinkBounds(const LinkBounds& bounds)
{
    current() = bounds;
}

} // namespace db
