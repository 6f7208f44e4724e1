#pragma once
// The process-wide cells of the sales imports: zero at program start, kept
// from one run and one terminal to the next.

#include <QtGlobal>

namespace sales {

struct ImportCells {
    qint64 Ultima_Transacao = 0; // server id of the last sale inserted (0 after a cancellation step)
    qint64 Ultimo_Cupom = 0; // NUM_DOC of that sale or of the last cancellation
    qint64 Ultimo_Caixa = 0; // terminal number (BANCO_ID) of that sale or cancellation
    qint64 Novo_Id = 0; // last id drawn from GEN_TRANSACOES by the hook
};

} // namespace sales
