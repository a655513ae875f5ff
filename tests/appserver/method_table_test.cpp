#include "appserver/method_table.h"

#include <gtest/gtest.h>

#include "appserver/argument_error.h"
#include "appserver/method_arguments.h"
#include "appserver/object_registry.h"
#include "appserver/rdm_consolida_solicita.h"

namespace {

using namespace rqc::appserver;

const MethodSignature* const kMethods[] = {
    &methods::kGetParaCmpSup,     &methods::kGetSolicitacao,   &methods::kGetConsSoli,
    &methods::kGetConsSoliPrevia, &methods::kGetConsSoliLista, &methods::kGetConsSoliItens,
    &methods::kGetConsSoliOrigem, &methods::kEstornaConsSoli,
};

}  // namespace

// Registration and argument parsing read the same table: every method is registered with its
// kinds, and a call with another argument count is refused naming the method and the count.
TEST(MethodTable, RegistrationAndParsingAgreeOnEveryMethod) {
    ObjectRegistry registry;
    registerRdmConsolidaSolicita(registry);
    const RemoteObject* rdm = registry.find(kRdmConsolidaSolicita);
    ASSERT_NE(rdm, nullptr);
    for (const MethodSignature* m : kMethods) {
        SCOPED_TRACE(std::string(m->name));
        const RemoteMethod* registered = rdm->findMethod(m->name);
        ASSERT_NE(registered, nullptr);
        EXPECT_EQ(registered->argumentKinds, m->kinds());
        try {
            const std::vector<rqc::protocol::Argument> none;
            const MethodArguments in(*m, none);
            ADD_FAILURE() << "no arguments accepted";
        } catch (const ArgumentError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "O método " + std::string(m->name) + " recebe " +
                          std::to_string(m->arguments.size()) +
                          (m->arguments.size() == 1 ? " argumento" : " argumentos") +
                          "; a chamada trouxe 0.");
        }
    }
}
