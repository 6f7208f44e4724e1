#pragma once
// What the manual customer export asks of the sales window. The two windows
// never include each other: the program's entry fills these in; an empty
// function means there is no sales window to ask.

#include <functional>

namespace update {

struct VendasLink {
    // Its monitor button reads "Desabilitar Monitor" (imports not paused).
    std::function<bool()> monitorLigado;
    // Its Importacao_Livre flag: no import running and none paused.
    std::function<bool()> importacaoLivre;
    // Its "Desabilitar Monitor" / "Habilitar Monitor" button.
    std::function<void()> alternarMonitor;
    // Clears Importacao_Livre.
    std::function<void()> fecharImportacoes;
    // Its "Atualizar Dados" button.
    std::function<void()> atualizarDados;
};

// Pauses the sales monitor for the length of a run and puts it back as it
// was, whichever way the run ends. A monitor already paused stays paused
// (switching it on would free imports during the run). A sales import that
// was running when the pause began is still running when it ends (it is
// further down the stack), so imports stay closed: its own end frees them.
class MonitorPausado {
public:
    explicit MonitorPausado(const VendasLink& link);
    ~MonitorPausado();
    MonitorPausado(const MonitorPausado&) = delete;
    MonitorPausado& operator=(const MonitorPausado&) = delete;

    // Puts the monitor back now; later calls do nothing.
    void restaurar();

private:
    const VendasLink& link_;
    bool ligado_ = false;
    bool importando_ = false;
    bool restaurado_ = false;
};

} // namespace update
