#pragma once
// What the sales benchmarks run their imports and checks with: the server
// link with the two tables the sales window keeps open on it, and a view
// that shows nothing.

#include "db/connection.h"
#include "db/query.h"
#include "sales/carga_vendas.h"
#include "sales/sales_view.h"

#include <QString>

namespace salesbench {

class NullView : public sales::SalesView {
public:
    void appendMonitorLine(sales::MonitorPane, const QString&) override { }
    void showDatabaseLabel(const QString&) override { }
    void clearLabel9() override { }
    void repaintWindow() override { }
    void repaintStatusPane() override { }
    void reportSkippedTerminal(const QString&) override { }
    void setProgress(int) override { }
    void repaintProgress() override { }
};

class SalesServer {
public:
    explicit SalesServer(const db::ConnectionParams& params)
        : connection_(params)
        , config_(connection_)
        , abertura_(connection_)
    {
        connection_.open();
        openWhole(config_, "SELECT * FROM CONFIG");
        openWhole(abertura_, "SELECT * FROM ABERTURA");
    }

    db::Connection& connection() { return connection_; }
    const db::Query& config() const { return config_; }

    sales::SalesImportLinks links(sales::SalesView& view, bool& importacaoLivre)
    {
        return { connection_, view, importacaoLivre, {}, [] { return QString("loja"); }, config_, abertura_ };
    }

private:
    static void openWhole(db::Query& q, const char* sql)
    {
        q.setText(sql);
        q.prepare();
        q.open();
    }

    db::Connection connection_;
    db::Query config_;
    db::Query abertura_;
};

} // namespace salesbench
