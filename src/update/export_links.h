#pragma once
// What the product and reference exports borrow from the update window for
// the length of a run.

#include "update/update_flags.h"

#include <QtGlobal>
#include <functional>

namespace db {
class Connection;
}
namespace terminals {
class SlotSet;
class UpdateStatusPass;
} // namespace terminals

namespace update {

class ExportView;

struct ExportLinks {
    db::Connection& server;                   // Quibor_Server of the update window
    terminals::SlotSet& slotSet;              // Quibor_TrasfPdv01..33
    terminals::UpdateStatusPass& statusPass;  // VerificarConexao and its Ecf_Online flags
    ExportView& view;
    UpdateFlags& flags;
    std::function<void()> habilitarBotoes;    // the window's Habilitarbotoes
    std::function<qint64()> empresaAtual;     // current company, selected at program start
};

} // namespace update
