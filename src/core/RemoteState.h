// RemoteState: the one overall state the tray shows.
//
// `switching` never comes out of a snapshot; the controller shows it while a
// command runs. The declaration order is part of the contract.
#pragma once

#include <QString>

enum class RemoteState { stopped, switching, linked, connecting, failed };

// The lower-case name of the case, as used in machine-readable output.
QString remoteStateName(RemoteState state);
