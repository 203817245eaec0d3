#pragma once

#include "host/abi.h"

namespace vorlux {

// Activation of the filter server: checks the interface version, looks up the
// filter's services and fills the host's callback tables.
int handlerActivate(int version, HostGlobal global, void *record, void *serverData);

}  // namespace vorlux
