// The tools' names for the one UTF-8 codec of the system (platform/utf8.h);
// nothing is converted here. New code includes platform/utf8.h directly.
#pragma once

#include "platform/utf8.h"

namespace vandrel::tools {

using vandrel::AppendUtf8;
using vandrel::Utf8ToWide;
using vandrel::Utf8ToWideLenient;
using vandrel::Utf8ToWideOrThrow;
using vandrel::WideToUtf8;

}  // namespace vandrel::tools
