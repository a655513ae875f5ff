#include "server_error_text.h"

namespace vlm {

namespace {

struct Sentence {
    const char* lead;
    const char* advice;  // nullptr: the server's sentence already says what to do
};

Sentence sentenceFor(TServerFailure kind) {
    switch (kind) {
        case TServerFailure::BadArgument:
            return {"O servidor de aplicação recusou um dado da operação",
                    "Corrija o que a mensagem indica e tente de novo."};
        case TServerFailure::Busy:
            return {"O servidor de aplicação está ocupado", nullptr};
        case TServerFailure::NotFound:
            return {"O servidor de aplicação não encontrou o que foi pedido",
                    "Confira o que foi pedido; se o erro continuar, informe o suporte."};
        case TServerFailure::Refused:
            return {"O servidor de aplicação recusou a operação", nullptr};
        case TServerFailure::Database:
            return {"O banco de dados não concluiu a operação", nullptr};
        case TServerFailure::OutcomeUnknown:
            return {"Não se sabe se a operação foi gravada", nullptr};
        case TServerFailure::Unspecified:
        case TServerFailure::Internal:
            break;
    }
    return {"O servidor de aplicação não pôde concluir a operação",
            "Corrija o que a mensagem indica e tente de novo; se o erro continuar, informe o "
            "suporte."};
}

}  // namespace

QString serverErrorSentence(TServerFailure kind, const QString& serverText, bool withAdvice) {
    const Sentence s = sentenceFor(kind);
    QString out = QString::fromUtf8(s.lead) + QStringLiteral(":\n") + serverText;
    if (withAdvice && s.advice != nullptr)
        out += QLatin1Char('\n') + QString::fromUtf8(s.advice);
    return out;
}

}  // namespace vlm
