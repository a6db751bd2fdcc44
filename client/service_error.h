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

// A request that got no answer at all: the service did not answer within
// the request time limit ("the service (pid N) did not answer within 30
// s"), or it ended (or was gone) before it answered ("the service (pid N)
// ended while answering"). Code 4, as an empty answer.
class EServiceUnavailable : public EServiceError {
 public:
  EServiceUnavailable(const std::string& text, bool timed_out)
      : EServiceError(4, text), timed_out_(timed_out) {}
  bool TimedOut() const { return timed_out_; }

 private:
  bool timed_out_;
};

}  // namespace vandrel::client
