// Forwards to protocol/model_ids.h, where the object model's identifiers
// live now; kept for code that still includes this path.
#pragma once
#include "protocol/model_ids.h"  // IWYU pragma: export
