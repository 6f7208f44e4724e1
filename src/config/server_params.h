#pragma once
// The server connection's parameter lines as the INI file describes them.

#include "db/connection_params.h"

#include <QString>

namespace app {

// When both "User Name" and "Password" are non-empty: the seven server lines
// built from the INI file, user and password decoded. Otherwise `defaults`
// unchanged, so an installation without credentials keeps the built-in list.
db::ConnectionParams serverParamsFromIni(const QString& iniPath,
                                         const db::ConnectionParams& defaults);

} // namespace app
