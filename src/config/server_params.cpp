#include "config/server_params.h"

#include "config/ini_file.h"
#include "config/ini_keys.h"

namespace app {

namespace {

// `read(key)` reads one value of the section anew.
template <typename Read>
db::ConnectionParams paramsFrom(Read read, const db::ConnectionParams& defaults)
{
    const QString userName = read(iniUserName());
    const QString password = read(iniPassword());
    if (userName.isEmpty() || password.isEmpty())
        return defaults;

    // Every value is read anew, in the order the lines are built.
    db::ConnectionParams params;
    params.add(QStringLiteral("Database= ") + read(iniBaseName()));
    params.add(QStringLiteral("User_Name= ") + Decodifica(read(iniUserName()), kIniShift));
    params.add(QStringLiteral("Password= ") + Decodifica(read(iniPassword()), kIniShift));
    params.add(QStringLiteral("Server= ") + read(iniServerName()));
    params.add(QStringLiteral("Port= ") + read(iniPorta()));
    params.add(QStringLiteral("MonitorBy=Remote"));
    params.add(QStringLiteral("DriverID=PG"));
    return params;
}

} // namespace

db::ConnectionParams serverParamsFromIni(const QString& iniPath,
                                         const db::ConnectionParams& defaults)
{
    return paramsFrom([&](const QString& key) { return LeIni(iniPath, iniSecaoConexao(), key); }, defaults);
}

db::ConnectionParams serverParamsFromIniContents(const QByteArray& contents,
                                                 const db::ConnectionParams& defaults)
{
    return paramsFrom([&](const QString& key) { return iniValue(contents, iniSecaoConexao(), key); }, defaults);
}

} // namespace app
