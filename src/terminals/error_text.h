#pragma once
// The text a message box shows for a caught failure: the layer's own message
// (the server's text) where there is one.

#include "db/errors.h"

#include <QString>
#include <exception>

namespace terminals {

inline QString errorText(const std::exception& e)
{
    if (const auto* dbError = dynamic_cast<const db::Error*>(&e))
        return dbError->message();
    return QString::fromUtf8(e.what());
}

} // namespace terminals
