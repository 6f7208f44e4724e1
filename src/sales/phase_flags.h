#pragma once
// The eight phases of one terminal's import, each with its flag: set when
// its marking step found rows, cleared after its closing update.

#include "sales/sale_tables.h"

#include <array>

namespace sales {

enum class Phase {
    Transacoes,
    Cancelamentos,
    Transitens,
    Transparcelas,
    FechamentoCupom,
    ComplNfceFiscal,
    NotasCanceladasNfce,
    ChequesRecebidos,
};

constexpr Phase phaseOf(SaleTable table)
{
    switch (table) {
    case SaleTable::Transacoes:
        return Phase::Transacoes;
    case SaleTable::Transitens:
        return Phase::Transitens;
    case SaleTable::Transparcelas:
        return Phase::Transparcelas;
    case SaleTable::FechamentoCupom:
        return Phase::FechamentoCupom;
    case SaleTable::ComplNfceFiscal:
        return Phase::ComplNfceFiscal;
    case SaleTable::NotasCanceladasNfce:
        return Phase::NotasCanceladasNfce;
    case SaleTable::ChequesRecebidos:
        return Phase::ChequesRecebidos;
    }
    return Phase::Transacoes;
}

class PhaseFlags {
public:
    void clear() { flags_.fill(false); }
    void set(Phase p) { flags_[index(p)] = true; }
    void clear(Phase p) { flags_[index(p)] = false; }
    bool isSet(Phase p) const { return flags_[index(p)]; }

private:
    static std::size_t index(Phase p) { return static_cast<std::size_t>(p); }
    std::array<bool, 8> flags_ {};
};

} // namespace sales
