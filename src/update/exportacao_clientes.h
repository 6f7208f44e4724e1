#pragma once
// The customer exports: the automatic load (Carga_Clientes, on the
// notification "clientes") sends the customers changed today to every
// active terminal not marked unreachable; the manual export (button "Carga
// Clientes p/ Pdv" and the "clientes_manual" notifications) sends today's
// changes or every customer to the terminals chosen by check box or by
// request rows. Both build their export table once and copy it into each
// target's CLIENTES (added or updated by CLIENTE_ID, nothing deleted).

#include "update/clientes_table.h"

#include <QtGlobal>
#include <functional>
#include <memory>

namespace db {
class Connection;
class MemTable;
} // namespace db

namespace update {

class ClientesView;
struct UpdateFlags;
struct VendasLink;

// What the runs borrow from the update window for its lifetime.
struct ClientesLinks {
    db::Connection& server;  // Quibor_Server of the update window
    ClientesView& view;
    UpdateFlags& flags;
    std::function<void()> verificarConexao;  // the window's status pass
    std::function<qint64()> empresaAtual;    // current company; may raise
    const VendasLink& vendas;
};

class ExportacaoClientes {
public:
    explicit ExportacaoClientes(ClientesLinks links);
    ~ExportacaoClientes();
    ExportacaoClientes(const ExportacaoClientes&) = delete;
    ExportacaoClientes& operator=(const ExportacaoClientes&) = delete;

    // Runs only while Carga_Auto_Clientes is set, and clears it at its end.
    // Failures of a terminal's step are swallowed; those of the customer or
    // target lists end the run.
    void Carga_Clientes();

    // A failure outside the per-terminal steps ends the run, which still
    // puts the window back to rest (button, monitor, flag, boxes, EXPORTACAO
    // marks) before the failure is passed on.
    void btn_exportar_clienteClick();

    // The export tables as the last run of each kind left them (null before
    // the first run, or when its creation failed).
    const db::MemTable* Fdac_temp_auto() const;
    const db::MemTable* Fdac_Temp() const;

    void setCriarTabela(CriarTabelaClientes criar);
    // Connect time-out of each terminal connection, in seconds.
    void setTerminalConnectTimeout(int seconds);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace update
