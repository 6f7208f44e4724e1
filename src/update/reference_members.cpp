#include "update/reference_members.h"

namespace update {
namespace {

using db::CopyMode;

const char* const kConfiguracoesPrefix = "Exportando Configura\u00e7\u00f5es: \rEcf: ";

const char* const kFinalizadoras =
    "SELECT FINALIZADORA_ID, DESCRICAO, LEGENDA, LIMITE, FATOR, NUMAUT, COMISSAO, LIMTROCO, F_TROCO, F_CHEQUE, "
    "F_DIG_VALOR, F_AUTO, GAVETA, PONTOS, FINTROCO, TIPO_TRANSACAO, PARCELAS, T_TEF, C_DEBITO, C_CREDITO, "
    "CLIENTE_ID, FINCARTAOECF FROM FINALIZADORAS";
const char* const kTributos = "SELECT TRIBUTO_ID,            DESCRICAO,              ALIQUOTA_ICMS,        "
                              "CODIGO_ECF,ORIGEM,                TRIBUTACAO,             CFOP FROM TRIBUTOS";
const char* const kEntidades = "SELECT ENTIDADE_ID, NOME, CNPJ, ENDERECO, NUMERO, COMPLEMENTO, BAIRRO, MUNICIPIO, "
                               "CEP, DDD, TELEFONE_1, INSCRICAO FROM ENTIDADES_DOACAO";
const char* const kOperadores =
    "SELECT FUNCIONARIO_ID, NOME, DESCONTO_MAX_ITEM, DESCONTO_MAX_SUBTOTAL, LIMITE_APROVA, CANCELA_CUPOM, "
    "CANCELA_ITEM, LEITURA_Z, SAIDA_OPERADOR, ENTRADA_OPERADOR, SAIDA_SISTEMA, DESLIGAR, SAIDA_VENDA, "
    "ENTRADA_SISTEMA, ENTRADA_VENDA, OPERADOR_ID, RECEBIMENTO_PDV, GERENCIAR_NFCE FROM OPERADORES";
const char* const kIbtp = "SELECT IBTP_ID, CODIGO, EX, TABELA, ALIQIMP, ALIQNAC, VERSAO, ALIQEST, CARGA FROM IBTP";
const char* const kConfig = "SELECT CONTA_ESTOQUE,CONTA_CONSUMO,TAM_PESAVEIS,TAM_BARRAS,VER_DESATIVADOS,"
                            "CARGA_MANUAL_PROD,CONTA_DESCONTO,CONTA_JUROS,CARENCIA,BLOQ_DEVEDORES,VERSAO_NFE,"
                            "EMAIL_NFCE,CONTINGENCIA FROM CONFIG";

const ReferenceMember kMembers[] = {
    {"btn_finalizadoras", "Carga Finalizadoras", 12, kConfiguracoesPrefix, "Finalizado Finalizadoras!",
     "Erro Exportar Finalizadoras:\rErro: ",
     {{"DELETE FROM FINALIZADORAS", kFinalizadoras, kFinalizadoras, CopyMode::AlwaysInsert,
       "QuiborSync_Logs\\Finalizadoras.log"}}},
    // Terminal taxes the server no longer has stay, with a blank description.
    {"btn_tributos", "Carga Tributos", 14, kConfiguracoesPrefix, "Finalizado Tributos!",
     "Erro Exportar tributos:\rErro: ",
     {{"UPDATE TRIBUTOS SET DESCRICAO = :VAZIO", kTributos, kTributos, CopyMode::AppendUpdate,
       "QuiborSync_Logs\\tributos.log"}}},
    {"Btn_Entidades", "Carga Entidades", 15, "Exportando Entidades: \rEcf: ", "Finalizado Entidades.",
     "Erro Exportar entidades:\rErro: ",
     {{"DELETE FROM ENTIDADES_DOACAO", kEntidades, kEntidades, CopyMode::AlwaysInsert,
       "QuiborSync_Logs\\LogEntidades.log"}}},
    {"btn_operadores", "Carga Operadores", 15, kConfiguracoesPrefix, "Finalizado Operadores",
     "Erro Exportar operadores:\rErro: ",
     {{"DELETE FROM OPERADORES", kOperadores, kOperadores, CopyMode::AlwaysInsert,
       "QuiborSync_Logs\\LogOperadores.log"}}},
    {"Btn_Ibtp", "Carga Tabela Ibpt", 16, "Exportando IBTP: \rEcf: ", "Finalzidado IBTP!", nullptr,
     {{"DELETE FROM IBTP", kIbtp, kIbtp, CopyMode::Append, "QuiborSync_Logs\\LogIbtp.log"}}},
    {"Btn_Configuracoes", "Carga Configura\u00e7\u00f5es", 13, kConfiguracoesPrefix, "Finalizado Configura\u00e7\u00f5es!",
     "Erro Exportar Configuracoes/Empresas:\rErro: ",
     {
         {"DELETE FROM CONFIG", kConfig, kConfig, CopyMode::AlwaysInsert, "QuiborSync_Logs\\LogConfiguracoes.log"},
         {nullptr, "SELECT * FROM EMPRESAS", "SELECT * FROM EMPRESAS", CopyMode::AppendUpdate,
          "QuiborSync_Logs\\LogEmpresas.log"},
         // The terminal keeps exactly its own server row.
         {"DELETE FROM LICENCA_IF", "SELECT * FROM LICENCA_IF WHERE NUM_ECF = :NUM_ECF", "SELECT * FROM LICENCA_IF",
          CopyMode::AlwaysInsert, "QuiborSync_Logs\\LogLicenca.log"},
         {"DELETE FROM CONFIG_NFISCAL", "SELECT * FROM CONFIG_NFISCAL", "SELECT * FROM CONFIG_NFISCAL",
          CopyMode::AlwaysInsert, "QuiborSync_Logs\\LogConfig_Nfiscal.log"},
     }},
};

} // namespace

const ReferenceMember& referenceMember(Referencia which)
{
    return kMembers[static_cast<int>(which)];
}

} // namespace update
