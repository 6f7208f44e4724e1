#include "config/server_params.h"

#include "config/ini_file.h"
#include "config/ini_keys.h"

namespace app {

db::ConnectionParams serverParamsFromIni(const QString& iniPath,
                                         const db::ConnectionParams& defaults)
{
    const QString secao = iniSecaoConexao();
    const QString userName = LeIni(iniPath, secao, iniUserName());
    const QString password = LeIni(iniPath, secao, iniPassword());
    if (userName.isEmpty() || password.isEmpty())
        return defaults;

    // Every value is read anew, in the order the lines are built.
    db::ConnectionParams params;
    params.add(QStringLiteral("Database= ") + LeIni(iniPath, secao, iniBaseName()));
    params.add(QStringLiteral("User_Name= ")
               + Decodifica(LeIni(iniPath, secao, iniUserName()), kIniShift));
    params.add(QStringLiteral("Password= ")
               + Decodifica(LeIni(iniPath, secao, iniPassword()), kIniShift));
    params.add(QStringLiteral("Server= ") + LeIni(iniPath, secao, iniServerName()));
    params.add(QStringLiteral("Port= ") + LeIni(iniPath, secao, iniPorta()));
    params.add(QStringLiteral("MonitorBy=Remote"));
    params.add(QStringLiteral("DriverID=PG"));
    return params;
}

} // namespace app
