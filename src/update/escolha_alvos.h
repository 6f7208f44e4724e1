#pragma once
// The terminals and the amount of rows an export run was asked for, copied
// from the window's check boxes as the run begins. The boxes belong to the
// window, not to the run: any export started inside it (a click, a
// notification) unticks them all at its end. A run therefore reads the
// boxes once, before its first event turn, and from then on only its copy.

#include "update/ecf_box.h"

#include <array>

namespace update {

class ClientesView;
class ExportView;

class EscolhaAlvos {
public:
    static EscolhaAlvos copiar(const ClientesView& view);
    static EscolhaAlvos copiar(const ExportView& view);

    // Box Ecf<nnn>, n in 1..40; false for any other n.
    bool ecf(int n) const { return n >= 1 && n <= kEcfBoxCount && ecf_[n]; }
    // "Exportar todos Registros".
    bool total() const { return total_; }
    // "Todas as Ecfs".
    bool todas() const { return todas_; }

private:
    std::array<bool, kEcfBoxCount + 1> ecf_{};
    bool total_ = false;
    bool todas_ = false;
};

} // namespace update
