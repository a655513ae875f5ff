#include "error_text.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>

#include "protocol/protocol.h"
#include "protocol/utf8.h"

namespace rqc::appserver {

namespace {

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // "…"

void appendHexByte(std::string& out, unsigned char c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", c);
    out += buf;
}

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

}  // namespace

std::size_t utf8CharLength(std::string_view s, std::size_t pos) {
    if (pos >= s.size())
        return 0;
    const std::size_t n = protocol::wire::utf8SequenceLength(s, pos);
    return n == 0 ? 1 : n;
}

std::string quoteExcerpt(std::string_view value, std::size_t maxChars) {
    std::string out = "\"";
    std::size_t chars = 0;
    std::size_t pos = 0;
    while (pos < value.size() && chars < maxChars) {
        const std::size_t n = utf8CharLength(value, pos);
        const auto c = static_cast<unsigned char>(value[pos]);
        if (n == 1 && (c >= 0x80 || isControl(c))) {
            appendHexByte(out, c);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out.append(value.substr(pos, n));
        }
        pos += n;
        ++chars;
    }
    if (pos < value.size())
        out += kEllipsis;
    out += '"';
    return out;
}

std::string cleanText(std::string_view text, std::size_t maxBytes) {
    std::string out;
    std::size_t lastFit = 0;  // longest prefix that leaves room for the ellipsis
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t n = utf8CharLength(text, pos);
        const auto c = static_cast<unsigned char>(text[pos]);
        if (n == 1 && (c >= 0x80 || isControl(c)))
            appendHexByte(out, c);
        else
            out.append(text.substr(pos, n));
        pos += n;
        if (out.size() + kEllipsis.size() <= maxBytes)
            lastFit = out.size();
        if (out.size() > maxBytes) {
            out.resize(lastFit);
            out += kEllipsis;
            return out;
        }
    }
    return out;
}

std::string newIncidentId() {
    // A random base per process, then a different id for each call: multiplying the counter
    // by an odd constant is a bijection on 32 bits.
    static const std::uint32_t base =
        std::random_device{}() ^
        static_cast<std::uint32_t>(std::chrono::system_clock::now().time_since_epoch().count());
    static std::atomic<std::uint32_t> counter{0};
    const std::uint32_t id = base ^ (counter.fetch_add(1) * 0x9E3779B1u);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", id);
    return buf;
}

std::string kindName(std::uint8_t code) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", code);
    switch (code) {
        case protocol::kTextByValue:
            return std::string("texto por valor (") + hex + ")";
        case protocol::kTextByRef:
            return std::string("texto por referência (") + hex + ")";
        case protocol::kDate:
            return std::string("data (") + hex + ")";
        default:
            return std::string("tipo desconhecido (") + hex + ")";
    }
}

namespace messages {

std::string databaseFailure(suitedb::DbFailure kind, std::string_view incident) {
    const std::string head = "Erro no banco de dados (ocorrência " + std::string(incident) + ")";
    switch (kind) {
        case suitedb::DbFailure::ConnectionLost:
        case suitedb::DbFailure::ReadOnly:
            return head +
                   ": o banco de dados não respondeu e nada desta operação foi gravado. Tente "
                   "novamente em instantes; se persistir, informe o administrador.";
        case suitedb::DbFailure::OutcomeUnknown:
            return head +
                   ": a conexão caiu ao gravar a operação e não foi possível saber se ela foi "
                   "gravada. Confira na Consulta de Consolidação antes de repetir; se persistir, "
                   "informe o administrador.";
        case suitedb::DbFailure::LockTimeout:
            return head +
                   ": o banco de dados está ocupado com outra gravação e nada desta operação foi "
                   "gravado. Tente novamente em instantes.";
        case suitedb::DbFailure::Other:
            break;
    }
    return head + ". Tente novamente; se persistir, informe o administrador.";
}

std::string databaseFailure(std::string_view incident) {
    return databaseFailure(suitedb::DbFailure::Other, incident);
}

std::string internalFailure(std::string_view incident) {
    return "Erro interno do servidor (ocorrência " + std::string(incident) +
           "). Tente novamente; se persistir, informe o administrador.";
}

std::string serverBusy() {
    return "O servidor está ocupado com outras consolidações; tente novamente em instantes.";
}

std::string unknownObject(std::string_view object) {
    return "O servidor não conhece o objeto " + quoteExcerpt(object, 60) + ".";
}

std::string unknownMethod(std::string_view object, std::string_view method) {
    return "O objeto " + quoteExcerpt(object, 60) + " não tem o método " +
           quoteExcerpt(method, 40) + ".";
}

std::string argumentCount(std::string_view method, std::size_t expected, std::size_t given) {
    return "O método " + std::string(method) + " recebe " + std::to_string(expected) +
           (expected == 1 ? " argumento" : " argumentos") + "; a chamada trouxe " +
           std::to_string(given) + ".";
}

std::string argumentKind(std::string_view method, std::size_t index, std::uint8_t expected,
                         std::uint8_t given) {
    return "O método " + std::string(method) + ": o argumento " + std::to_string(index + 1) +
           " deve ser " + kindName(expected) + ", mas a chamada passou " + kindName(given) + ".";
}

std::string malformedCall() {
    return "Chamada malformada: a descrição da chamada não corresponde aos argumentos enviados.";
}

std::string undecodableRequest(std::span<const std::byte> body) {
    const auto version = body.size() >= 3 ? static_cast<std::uint8_t>(body[2]) : 0;
    if (body.size() >= 3 && body[0] == std::byte{'R'} && body[1] == std::byte{'Q'} &&
        (version < protocol::kOldestProtocolVersion || version > protocol::kProtocolVersion)) {
        return "Versão de protocolo " + std::to_string(static_cast<unsigned>(body[2])) +
               " não suportada; este servidor usa a versão " +
               std::to_string(protocol::kProtocolVersion) + ".";
    }
    return "Pedido ilegível: a mensagem recebida não segue o protocolo do servidor.";
}

std::string requestTooLarge(std::uint64_t length, std::uint32_t limit) {
    return "O pedido de " + std::to_string(length) + " bytes passa do limite de " +
           std::to_string(limit) + " bytes do servidor; reduza o pedido e tente de novo.";
}

std::string answerTooLarge(std::size_t length, std::uint32_t limit) {
    return "A resposta de " + std::to_string(length) + " bytes passa do limite de " +
           std::to_string(limit) +
           " bytes por mensagem; restrinja o pedido (menos filiais ou um período menor).";
}

std::string serverFull(unsigned open) {
    return "Conexão recusada, servidor ocupado: já há " + std::to_string(open) +
           " conexões abertas, o limite do servidor; tente novamente em instantes.";
}

std::string peerFull(const std::string& address, unsigned open) {
    return "Conexão recusada, servidor ocupado: o endereço " + address + " já tem " +
           std::to_string(open) +
           " conexões abertas, o limite por endereço; feche uma e tente "
           "de novo.";
}

std::string tooManyWaiting(const std::string& address) {
    return "Conexão recusada, servidor ocupado: há conexões demais do endereço " + address +
           " ainda sem login; conclua ou feche uma delas e tente de novo.";
}

std::string serverBusyWithLogins() {
    return "Conexão recusada, servidor ocupado: há conexões demais ainda sem login; tente "
           "novamente em instantes.";
}

std::string noPermission(std::string_view operatorCode, std::string_view object) {
    return "O operador " + std::string(operatorCode) + " não tem permissão para usar " +
           std::string(object) + ".";
}

std::string alreadyLoggedIn(std::string_view operatorCode) {
    return "A conexão já fez login como " + std::string(operatorCode) +
           "; para outro operador, abra outra conexão.";
}

std::string tooManyLogins() {
    return "Muitas tentativas de login sem sucesso; aguarde alguns minutos e tente de novo.";
}

std::string loginFirst() {
    return "A conexão não fez login: a primeira mensagem tem de ser o login do operador.";
}

std::string changePasswordArguments(std::string_view object, std::string_view method) {
    return std::string(object) + "." + std::string(method) +
           " recebe dois textos por valor: a senha atual e a nova.";
}

std::string passwordTooShort(std::size_t minimum) {
    return "A nova senha precisa ter pelo menos " + std::to_string(minimum) +
           " caracteres; a senha não foi alterada.";
}

std::string passwordTooLong(std::size_t maximum) {
    return "A nova senha pode ter no máximo " + std::to_string(maximum) +
           " bytes; a senha não foi alterada.";
}

std::string tooManyPasswordAttempts() {
    return "Muitas tentativas sem sucesso; aguarde alguns minutos e tente de novo.";
}

std::string currentPasswordWrong() {
    return "A senha atual não confere; a senha não foi alterada.";
}

std::string samePassword() {
    return "A nova senha é igual à atual; escolha outra.";
}

std::string consolidationNotFound(std::string_view number) {
    return "A consolidação " + std::string(number) + " não existe.";
}

std::string alreadyReversed(std::string_view number) {
    return "A consolidação " + std::string(number) + " já foi estornada.";
}

std::string notOpenForReversal(std::string_view number, std::string_view situation) {
    return "A consolidação " + std::string(number) + " não está aberta (situação " +
           (situation == "F" ? std::string("Fechada") : std::string(situation)) +
           "); só uma consolidação aberta pode ser estornada.";
}

std::string reversalBusy(std::string_view central) {
    return "Há uma consolidação da filial central " + std::string(central) +
           " em andamento; tente o estorno novamente em instantes.";
}

}  // namespace messages

}  // namespace rqc::appserver
