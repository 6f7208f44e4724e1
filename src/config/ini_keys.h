#pragma once
// Where the installation's INI file lies and what it holds: one section with
// the server connection, user name and password stored shifted.

#include "common/log_path.h"

#include <QString>

namespace app {

inline QString iniPath()
{
    return common::programFolder() + QStringLiteral("Quibor.ini");
}

// "Conexão Postgres", accented as the installer writes it.
inline QString iniSecaoConexao() { return QStringLiteral("Conex\u00e3o Postgres"); }

inline QString iniServerName() { return QStringLiteral("Server Name"); }
inline QString iniPorta() { return QStringLiteral("Porta"); }
inline QString iniBaseName() { return QStringLiteral("Base Name"); }
inline QString iniUserName() { return QStringLiteral("User Name"); }
inline QString iniPassword() { return QStringLiteral("Password"); }

// Shift by which "User Name" and "Password" are stored raised.
inline constexpr int kIniShift = 3;

} // namespace app
