#include "object_registry.h"

#include <stdexcept>

namespace rqc::appserver {

void RemoteObject::addMethod(std::string name, std::vector<std::uint8_t> argumentKinds,
                             MethodHandler run) {
    if (findMethod(name) != nullptr) {
        throw std::invalid_argument("object '" + m_name + "' already has a method '" + name + "'");
    }
    m_methods.push_back({std::move(name), std::move(argumentKinds), std::move(run)});
}

void RemoteObject::addMethod(const MethodSignature& method, MethodHandler run) {
    addMethod(std::string(method.name), method.kinds(), std::move(run));
    m_methods.back().writes = method.writes;
}

const RemoteMethod* RemoteObject::findMethod(std::string_view name) const {
    for (const auto& m : m_methods) {
        if (m.name == name)
            return &m;
    }
    return nullptr;
}

RemoteObject& ObjectRegistry::add(std::string name) {
    if (find(name) != nullptr) {
        throw std::invalid_argument("an object named '" + name + "' is already registered");
    }
    m_objects.push_back(std::make_unique<RemoteObject>(std::move(name)));
    return *m_objects.back();
}

const RemoteObject* ObjectRegistry::find(std::string_view name) const {
    for (const auto& o : m_objects) {
        if (o->name() == name)
            return o.get();
    }
    return nullptr;
}

std::vector<std::string> ObjectRegistry::methodNames() const {
    std::vector<std::string> names;
    for (const auto& object : m_objects) {
        for (const RemoteMethod& m : object->methods())
            names.push_back(object->name() + "." + m.name);
    }
    return names;
}

}  // namespace rqc::appserver
