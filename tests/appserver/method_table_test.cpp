#include "appserver/method_table.h"

#include <gtest/gtest.h>

#include "appserver/argument_error.h"
#include "appserver/method_arguments.h"
#include "appserver/object_registry.h"
#include "appserver/rdm_consolida_solicita.h"

namespace {

using namespace rqc::appserver;

// Every method with the arguments the screens call it with.
const struct {
    const MethodSignature* method;
    const char* arguments;
} kMethods[] = {
    {&methods::kGetParaCmpSup, "1 argumento"},     {&methods::kGetSolicitacao, "4 argumentos"},
    {&methods::kGetConsSoli, "19 argumentos"},     {&methods::kGetConsSoliPrevia, "19 argumentos"},
    {&methods::kGetConsSoliLista, "4 argumentos"}, {&methods::kGetConsSoliItens, "1 argumento"},
    {&methods::kGetConsSoliCabec, "1 argumento"},  {&methods::kGetConsSoliOrigem, "2 argumentos"},
    {&methods::kEstornaConsSoli, "1 argumento"},
};

}  // namespace

// Registration and argument parsing read the same table: every method is registered with its
// kinds, and a call with another argument count is refused naming the method and the count.
TEST(MethodTable, RegistrationAndParsingAgreeOnEveryMethod) {
    ObjectRegistry registry;
    registerRdmConsolidaSolicita(registry);
    const RemoteObject* rdm = registry.find(kRdmConsolidaSolicita);
    ASSERT_NE(rdm, nullptr);
    for (const auto& [m, arguments] : kMethods) {
        SCOPED_TRACE(std::string(m->name));
        const RemoteMethod* registered = rdm->findMethod(m->name);
        ASSERT_NE(registered, nullptr);
        EXPECT_EQ(registered->argumentKinds, m->kinds());
        try {
            const std::vector<rqc::protocol::Argument> none;
            const MethodArguments in(*m, none);
            ADD_FAILURE() << "no arguments accepted";
        } catch (const ArgumentError& e) {
            EXPECT_EQ(std::string(e.what()), "O método " + std::string(m->name) + " recebe " +
                                                 arguments + "; a chamada trouxe 0.");
        }
    }
}
