// The two exception classes of the request protocol and the conversion of
// their texts between the 8-bit form that exceptions carry and the UTF-16
// form that travels on the wire.
//
// Exception texts are 8-bit strings. The service's 8-bit code page for its
// own texts is UTF-8: a message containing non-ASCII characters is converted
// to UTF-16 as UTF-8 (invalid bytes become U+FFFD), and a peer's UTF-16 text
// comes back as UTF-8 (unpaired surrogates become U+FFFD). ASCII texts are
// the same bytes in every 8-bit code page.
#pragma once

#include <string>
#include <string_view>

#include "platform/exceptions.h"
#include "protocol/transfer_ids.h"  // the channel's error codes

namespace vandrel {

// An error raised by the service itself. Its help-context number is the
// error code that travels to the peer as item 3 of an error answer:
// 1..5 transfer channel, 101..103 manager, 141..262 object model.
class ELocal : public Exception {
 public:
  ELocal(const std::string& message, int code) : Exception(message, code) {}
};

// Raised on the calling side when the peer answered with an error (answer
// code 2): the peer's message and code. Silent: no guard shows it and no
// handler turns it into an error answer of its own.
class ERemote : public EAbort {
 public:
  ERemote(const std::string& message, int code) : EAbort(message, code) {}
};

// The code that an exception travels with: an ELocal's own code, 1 for any
// other exception.
int ErrorCodeOf(const std::exception& e);

// 8-bit exception text (UTF-8) to UTF-16 and back.
std::u16string ErrorTextToWide(std::string_view text);
std::string ErrorTextFromWide(std::u16string_view text);

}  // namespace vandrel
