#include "update/clientes_table.h"

#include "db/memtable.h"

namespace update {

std::unique_ptr<db::MemTable> criarTabelaClientes()
{
    using Type = db::MemTable::Type;
    auto table = std::make_unique<db::MemTable>();
    table->addField("CLIENTE_ID", Type::Integer);
    table->addField("NOME", Type::Text, 70);
    table->addField("CNPJ", Type::Text, 18);
    table->addField("ENDERECO", Type::Text, 60);
    table->addField("BAIRRO", Type::Text, 40);
    table->addField("MUNICIPIO", Type::Text, 30);
    table->addField("LIMITE", Type::Float);
    table->addField("SALDO", Type::Float);
    table->addField("BLOQUEADO", Type::Text, 3);
    table->addField("STATUS", Type::Text, 1);
    table->addField("CARTAO_IDENT1", Type::Text, 13);
    table->addField("CARTAO_IDENT2", Type::Text, 13);
    table->addField("CARTAO_IDENT3", Type::Text, 13);
    table->addField("CARTAO_IDENT4", Type::Text, 13);
    table->addField("SENHA", Type::Text, 9);
    table->addField("OBSERVACAO", Type::Text, 150);
    table->addField("BLOQ_CHEQUE", Type::Text, 3);
    table->addField("PR_VENCIMENTO", Type::Date);
    table->addField("VALOR_CONTA", Type::Float);
    table->addField("LIMITE_CHEQUE", Type::Float);
    table->addField("SALDO_CHEQUE", Type::Float);
    table->addField("ESTADO", Type::Text, 2);
    table->addField("IBGE", Type::Text, 7);
    table->addField("NUMERO", Type::Text, 6);
    table->addField("COD_PAIS", Type::Text, 5);
    table->addField("EMAIL", Type::Text, 60);
    table->addIndex(QString(), "CLIENTE_ID", true);
    table->addIndex("TEMP", "NOME;PR_VENCIMENTO");
    table->setIndex("TEMP");
    table->create();
    return table;
}

} // namespace update
