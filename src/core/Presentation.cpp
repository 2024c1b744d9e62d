#include "Presentation.h"

#include "StatusText.h"

namespace {

Presentation make(QString state, QString bridge, QString agent, QString hub, QString memory,
                  RemoteState shownState) {
    Presentation p;
    p.stateLine = std::move(state);
    p.bridgeLine = std::move(bridge);
    p.agentLine = std::move(agent);
    p.hubLine = std::move(hub);
    p.memoryLine = std::move(memory);
    switch (shownState) {
    case RemoteState::stopped:
        p.symbol = StatusSymbol::stopped;
        p.tint = SymbolTint::grey;
        return p;
    case RemoteState::switching:
    case RemoteState::connecting:
        p.symbol = StatusSymbol::active;
        p.tint = SymbolTint::yellow;
        return p;
    case RemoteState::linked:
        p.symbol = StatusSymbol::active;
        p.tint = SymbolTint::green;
        return p;
    case RemoteState::failed:
        break;
    }
    p.symbol = StatusSymbol::failed;
    p.tint = SymbolTint::red;
    return p;
}

} // namespace

Presentation Presentation::checking() {
    return make(StatusText::stateChecking, StatusText::bridgeChecking, StatusText::agentChecking,
                StatusText::hubChecking, StatusText::memoryUnknown, RemoteState::switching);
}

Presentation Presentation::unpaired() {
    Presentation p = make(StatusText::stateWaitingForPairing, StatusText::bridgeNotInstalled,
                          StatusText::agentNotInstalled, StatusText::hubNotConnectedLine,
                          StatusText::memoryZero, RemoteState::stopped);
    p.canStart = p.canStop = p.canRestart = false;
    return p;
}

Presentation Presentation::of(const ServiceSnapshot& s, bool busy) {
    const RemoteState state = busy ? RemoteState::switching : s.state();
    Presentation p =
        make(StatusText::stateLine(state), StatusText::bridgeLine(s), StatusText::agentLine(s),
             StatusText::hubLine(s), StatusText::memoryLine(s), state);
    // Stop stays offered while anything could still be running or wanted.
    const bool anythingToStop =
        s.bridge == u"online" || s.agent == u"online" || s.desired != u"disabled";
    p.canStart = !busy && s.state() != RemoteState::linked;
    p.canStop = !busy && anythingToStop;
    p.canRestart = !busy;
    return p;
}
