#pragma once
// The server connection's parameter lines as the INI file describes them.

#include "db/connection_params.h"

#include <QByteArray>
#include <QString>

namespace app {

// When both "User Name" and "Password" are non-empty: the seven server lines
// built from the INI file, user and password decoded. Otherwise `defaults`
// unchanged, so an installation without credentials keeps the built-in list.
db::ConnectionParams serverParamsFromIni(const QString& iniPath,
                                         const db::ConnectionParams& defaults);

// The same from the bytes of an INI file already read (or about to be
// written).
db::ConnectionParams serverParamsFromIniContents(const QByteArray& contents,
                                                 const db::ConnectionParams& defaults);

} // namespace app
