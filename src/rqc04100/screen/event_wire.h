#pragma once
// How the layout and the components name the form's handlers: by member pointer, one type per
// event signature, so that a handler that does not exist, or has another signature, does not
// compile.

#include "shared/vlm_view.h"

class TfrmConsolidaSolicita;

namespace rqc04100 {

using NotifyHandler = void (TfrmConsolidaSolicita::*)(QObject* Sender);
using KeyHandler = void (TfrmConsolidaSolicita::*)(QObject* Sender, quint16& Key,
                                                   TShiftState Shift);
using BeforePesqHandler = void (TfrmConsolidaSolicita::*)(QObject* Sender, bool& Continua);

enum class Event { OnChange, OnExit, OnClick, OnKeyDown, OnDateChange, OnBeforePesq, OnAfterPesq };

// One event of a control and the handler it reaches: the member of the event's signature is
// set, the others are null. Made by the functions below.
struct EventWire {
    Event event;
    NotifyHandler notify = nullptr;
    KeyHandler key = nullptr;
    BeforePesqHandler beforePesq = nullptr;

    bool operator==(const EventWire&) const = default;
};

constexpr EventWire OnChange(NotifyHandler h) {
    return {Event::OnChange, h};
}
constexpr EventWire OnExit(NotifyHandler h) {
    return {Event::OnExit, h};
}
constexpr EventWire OnClick(NotifyHandler h) {
    return {Event::OnClick, h};
}
constexpr EventWire OnDateChange(NotifyHandler h) {
    return {Event::OnDateChange, h};
}
constexpr EventWire OnAfterPesq(NotifyHandler h) {
    return {Event::OnAfterPesq, h};
}
constexpr EventWire OnKeyDown(KeyHandler h) {
    return {Event::OnKeyDown, nullptr, h};
}
constexpr EventWire OnBeforePesq(BeforePesqHandler h) {
    return {Event::OnBeforePesq, nullptr, nullptr, h};
}

}  // namespace rqc04100
