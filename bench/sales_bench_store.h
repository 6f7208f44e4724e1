#pragma once
// The store the sales-import benchmarks import from: a server holding
// earlier days' sales and 3 terminals with 2,000 new sales between them
// (5 items, 1 instalment, 1 receipt closing and 1 NFC-e complement each,
// the complement holding the signed XML of its note, about 1.5 kB, as a
// store's do).

#include "common/log_path.h"
#include "support/test_db.h"

#include <QChar>
#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <vector>

namespace salesbench {

constexpr int kTerminals = 3;
constexpr int kSales = 2000;
constexpr int kItemsPerSale = 5;
constexpr int kHistorySales = 20000; // already on the server, from an earlier day

// The signed XML of sale k's note (about 1.5 kB), as an SQL expression:
// header, five items, totals, payment and a signature whose digest and value
// differ from note to note.
const char* const kNoteXml
    = "'<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc versao=\"4.00\" "
      "xmlns=\"http://www.portalfiscal.inf.br/nfe\"><NFe><infNFe Id=\"NFe' || lpad(k::text, 44, '3') "
      "|| '\" versao=\"4.00\"><ide><cUF>35</cUF><nNF>' || k || '</nNF><mod>65</mod><serie>1</serie>"
      "<dhEmi>2024-03-05T10:15:00-03:00</dhEmi><tpAmb>1</tpAmb></ide><emit><CNPJ>12345678000199</CNPJ>"
      "<xNome>LOJA EXEMPLO LTDA</xNome></emit>' || (SELECT string_agg('<det nItem=\"' "
      "|| i || '\"><prod><cProd>' || (1000 + i) || '</cProd><xProd>PRODUTO ' || i || '</xProd>"
      "<CFOP>5102</CFOP><qCom>1.0000</qCom><vProd>10.00</vProd></prod></det>', '') "
      "FROM generate_series(1, 5) i) "
      "|| '<total><ICMSTot><vProd>50.00</vProd><vNF>50.00</vNF></ICMSTot></total><pag><detPag><tPag>01</tPag>"
      "<vPag>50.00</vPag></detPag></pag></infNFe><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\">"
      "<SignedInfo><Reference URI=\"#NFe' || k || '\"><DigestValue>' || encode(sha256(k::text::bytea), "
      "'base64') || '</DigestValue></Reference></SignedInfo><SignatureValue>' || (SELECT string_agg(encode("
      "sha512((k * 8 + j)::text::bytea), 'base64'), '') FROM generate_series(1, 2) j) || '</SignatureValue>"
      "</Signature></NFe></nfeProc>'";

inline void fillTerminal(testsupport::TestDatabase& pdv, int n, int sales)
{
    const QString range = QString("generate_series(1, %1) k").arg(sales);
    pdv.exec(QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, STATUS, SERIAL) VALUES ('%1', '%2', 'A', 'SN')")
                 .arg(n, 3, 10, QChar('0'))
                 .arg(pdv.name()));
    pdv.exec(
        QString("INSERT INTO TRANSACOES (TRANSACAO_ID, TRANSACAO_ORIGEM, BANCO_ID, NUM_DOC, DT_TRANS, "
                "DT_MOVIMENTO, DT_ENT_SAI, MODELO, CONDUTA, CLIENTE_ID, VALOR, VALOR_PRODUTOS, EMPRESA_ID, "
                "CONTA_ID, FUNCIONARIO_ID, HORA, COND_PAGTO, ITENS, UNIDADES, CHAVE_NFE, EXPORTADO) "
                "SELECT k, 100000 + k, %1, k::text, '2024-03-05', '2024-03-05', '2024-03-05', '65', '01', 7, "
                "50, 50, 1, 11, 21, '10:15:00', 'A VISTA', 5, 5, 'CHAVE' || k, 0 FROM %2")
            .arg(n)
            .arg(range));
    pdv.exec(
        QString("INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, BANCO_ID, DATA, PRODUTO_ID, DESCRICAO, "
                "QUANTIDADE, VR_UNITARIO, VR_TOTAL, CST, CFOP, TP_PROD_SERV, EXPORTADO) "
                "SELECT 100000 + k, s, %1, '2024-03-05', 1000 + s, 'PRODUTO ' || s, 1, 10, 10, '000', "
                "'5102', 'P', 0 FROM %2, generate_series(1, %3) s")
            .arg(n)
            .arg(range)
            .arg(kItemsPerSale));
    pdv.exec(
        QString("INSERT INTO TRANSPARCELAS (TRANSACAO_ID, PARCELA_ID, TIPO_TRANSACAO, BANCO_ID, ECF, DATA, "
                "DT_VENCIMENTO, VALOR, DUPLICATA) SELECT 100000 + k, '1', 'T', 0, %1, '2024-03-05', "
                "'2024-04-05', 50, 'D' || k FROM %2")
            .arg(n)
            .arg(range));
    pdv.exec(
        QString("INSERT INTO FECHAMENTO_CUPOM (CUPOM, CAIXA_ID, OPERADOR_ID, FINALIZADORA_ID, LEGENDA, DATA, "
                "HORA, VALOR_CUPOM, VALOR_FINALIZADORA, FISCAL, ENTIDADE_ID, CLIENTE_ID) "
                "SELECT lpad(k::text, 8, '0'), %1, 3, 1, 'DINHEIRO', '2024-03-05', '10:16:00', 50, 50, 'S', "
                "0, 7 FROM %2")
            .arg(n)
            .arg(range));
    pdv.exec(QString(
        "INSERT INTO COMPL_NFCEFISCAL (TRANSACAO_ID, DT_SAIDA, HR_SAIDA, CHAVE_NFCE, EMPRESA_ID, ECF, "
        "TRANSMISSAO, DT_EMISSAO, VALOR, NO_DOC_FISCAL, ARQUIVO_XML, ERRO_ENVIO) "
        "SELECT 100000 + k, '2024-03-05', '10:15:00', 'CHAVE' || k, 1, '%1', 'OK', '2024-03-05', 50, "
        "k, %3, '' FROM %2")
                 .arg(n, 3, 10, QChar('0'))
                 .arg(range)
                 .arg(kNoteXml));
    pdv.exec("ANALYZE");
}

// A store's server is never empty: earlier days' sales, analysed, so the
// import's lookups meet the plans they meet in a shop.
inline void fillHistory(testsupport::TestDatabase& server)
{
    const QString range = QString("generate_series(1, %1) k").arg(kHistorySales);
    server.exec(
        QString("INSERT INTO TRANSACOES (TRANSACAO_ID, TRANSACAO_ORIGEM, BANCO_ID, NUM_DOC, DT_TRANS, "
                "DT_MOVIMENTO, MODELO, CONDUTA, CLIENTE_ID, VALOR) SELECT k, 100000 + k / 3, 1 + k % 3, "
                "(k / 3)::text, '2024-02-01'::date + k % 28, '2024-02-01'::date + k % 28, '65', '01', 7, "
                "50 FROM %1")
            .arg(range));
    server.exec(
        QString("INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, BANCO_ID, DATA, PRODUTO_ID, VR_TOTAL) "
                "SELECT k, s, 1, '2024-02-01', 1000 + s, 10 FROM %1, generate_series(1, %2) s")
            .arg(range)
            .arg(kItemsPerSale));
    server.exec(QString("INSERT INTO TRANSPARCELAS (TRANSACAO_ID, PARCELA_ID, ECF, DATA, VALOR) "
                        "SELECT k, '1', 1, '2024-02-01', 50 FROM %1")
                    .arg(range));
    server.exec(QString("INSERT INTO FECHAMENTO_CUPOM (FECHAMENTO_ID, CUPOM, CAIXA_ID, DATA, VALOR_CUPOM, "
                        "VALOR_FINALIZADORA) SELECT k, lpad((k / 3)::text, 8, '0'), 1 + k % 3, "
                        "'2024-02-01'::date + k % 28, 50, 50 FROM %1")
                    .arg(range));
    server.exec(QString("INSERT INTO COMPL_NFCEFISCAL (TRANSACAO_ID, DT_SAIDA, ECF, VALOR) "
                        "SELECT k, '2024-02-01', '001', 50 FROM %1")
                    .arg(range));
    server.exec(
        QString("SELECT setval('GEN_TRANSACOES', %1), setval('GEN_FECHAMENTO', %1)").arg(kHistorySales));
    server.exec("ANALYZE");
}

struct Store {
    testsupport::TestDatabase server { testsupport::Template::Server };
    std::vector<std::unique_ptr<testsupport::TestDatabase>> terminals;
    QTemporaryDir folder;

    // `terminalPort`: where the server's LICENCA_IF sends the program for
    // the terminals (the cluster itself, or a delay proxy in front of it).
    // `user`/`password`: the login LICENCA_IF gives for the terminals.
    explicit Store(int terminalPort = testsupport::testPort(), const QString& user = testsupport::testUser(),
        const QString& password = testsupport::testPassword())
    {
        server.exec("INSERT INTO CONFIG (CONTROLE_ESTQ_LOC) VALUES ('False')");
        server.exec("INSERT INTO ABERTURA (DT_MOVIMENTO) VALUES ('2024-03-05')");
        server.exec("INSERT INTO CLIENTES (CLIENTE_ID, NOME) VALUES (7, 'CLIENTE')");
        fillHistory(server);
        for (int n = 1; n <= kTerminals; ++n) {
            auto pdv = std::make_unique<testsupport::TestDatabase>(testsupport::Template::Terminal);
            const int sales = kSales / kTerminals + (n <= kSales % kTerminals ? 1 : 0);
            fillTerminal(*pdv, n, sales);
            server.exec(
                QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, USUARIO, SENHA, IP, PORTA, STATUS, "
                        "ECF_STATUS, IMPORTACAO) VALUES ('%1', '%2', '%3', '%4', '%5', '%6', 'A', 0, 1)")
                    .arg(n, 3, 10, QChar('0'))
                    .arg(pdv->name(), user, password,
                        testsupport::testHost())
                    .arg(terminalPort));
            terminals.push_back(std::move(pdv));
        }
        QDir(folder.path()).mkdir("QuiborSync_Logs");
        common::setProgramFolder(folder.path());
    }
};

} // namespace salesbench
