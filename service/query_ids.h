// Forwards to protocol/message_ids.h, where the messaging core's message
// identifiers live now; kept for code that still includes this path.
#pragma once
#include "protocol/message_ids.h"  // IWYU pragma: export
