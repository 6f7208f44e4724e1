#include "terminals/licenca_row.h"

#include "db/connection_params.h"
#include "db/dataset.h"

namespace terminals {
namespace {

// Date and time columns come as the server writes them ("2022-11-01",
// "10:15:30.25", or a timestamp); anything else goes through the layer's
// own date-time conversion.
QDate readDate(const db::Dataset& row, const QString& name)
{
    const db::Field f = row.field(name);
    const QString t = f.asString().trimmed();
    const QDate d = QDate::fromString(t.left(10), Qt::ISODate);
    return d.isValid() ? d : f.asDateTime().date();
}

QTime readTime(const db::Dataset& row, const QString& name)
{
    const db::Field f = row.field(name);
    if (f.isNull())
        return QTime(0, 0);
    QString t = f.asString().trimmed();
    if (const int blank = t.indexOf(u' '); blank >= 0)
        t = t.mid(blank + 1);
    const QTime time = QTime::fromString(t.left(8), "HH:mm:ss");
    return time.isValid() ? time : f.asDateTime().time();
}

// The columns a connection to the terminal is made from.
void readLink(const db::Dataset& row, LicencaRow& r)
{
    r.banco = row.field("BANCO").asString();
    r.usuario = row.field("USUARIO").asString();
    r.senha = row.field("SENHA").asString();
    r.ip = row.field("IP").asString();
    r.porta = row.field("PORTA").asString();
}

} // namespace

LicencaRow LicencaRow::read(const db::Dataset& row)
{
    LicencaRow r;
    r.numEcf = row.field("NUM_ECF").asString();
    readLink(row, r);
    r.ecfStatus = static_cast<int>(row.field("ECF_STATUS").asInteger());
    r.dtSyncNull = row.field("DT_SYNC").isNull();
    // A null date reads as the layer's date 0, shown as such in the lines.
    r.dtSync = r.dtSyncNull ? db::zeroDateTime().date() : readDate(row, "DT_SYNC");
    r.hrSync = readTime(row, "HR_SYNC");
    return r;
}

db::ConnectionParams terminalParams(const LicencaRow& row)
{
    db::ConnectionParams p;
    p.setTerminal(true);
    p.add("Database= " + row.banco);
    p.add("User_Name= " + row.usuario);
    p.add("Password=" + row.senha);
    p.add("Server= " + row.ip);
    p.add("Port= " + row.porta);
    p.add("DriverID=PG");
    p.add("MonitorBy=Remote");
    return p;
}

db::ConnectionParams terminalParams(const db::Dataset& row)
{
    LicencaRow r;
    readLink(row, r);
    return terminalParams(r);
}

} // namespace terminals
