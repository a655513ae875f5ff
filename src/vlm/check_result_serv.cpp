#include "check_result_serv.h"

#include "abort.h"

TServerResult CheckResultServ(const TServerResult& result, bool flag, int number) {
    TServerResult::Kind expected;
    switch (number) {
        case 0:
            expected = TServerResult::Kind::Packet;
            break;
        case 10:
            expected = TServerResult::Kind::Text;
            break;
        default:
            throw std::invalid_argument("CheckResultServ: unknown result number " +
                                        std::to_string(number) +
                                        " (0 expects a data packet, 10 a text)");
    }
    if (result.IsError()) {
        throw EServerError(
            vlm::withDetail(vlm::serverErrorSentence(result.failure(), result.AsString(), true),
                            QStringLiteral("application server error: ") + result.AsString())
                .toStdString(),
            result.failure());
    }
    if (result.kind() == expected || (!flag && result.IsEmpty()))
        return result;
    throw EServerError(
        vlm::withDetail(QStringLiteral("O servidor de aplicação deu uma resposta inesperada. "
                                       "Informe o suporte: a tela e o servidor podem ser de "
                                       "versões diferentes."),
                        QStringLiteral("unexpected answer from the application server: expected ") +
                            TServerResult::kindName(expected) + ", got " +
                            TServerResult::kindName(result.kind()))
            .toStdString());
}
