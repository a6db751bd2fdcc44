// EServiceError: a request that the service answered with an error. It
// carries the service's error code (1..5 transfer channel, 101..103
// manager, 141..262 object model) and its text, exactly as sent.
#pragma once

#include <string>

#include "platform/exceptions.h"

namespace vandrel::client {

class EServiceError : public Exception {
 public:
  EServiceError(int code, const std::string& text) : Exception(text, code) {}
  int Code() const { return HelpContext(); }
  std::string Text() const { return Message(); }
};

}  // namespace vandrel::client
