// Error codes of exceptions and the conversion of their texts.
#include "service/errors.h"

#include "platform/utf8.h"

namespace vandrel {

int ErrorCodeOf(const std::exception& e) {
  if (const auto* local = dynamic_cast<const ELocal*>(&e)) return local->HelpContext();
  return 1;
}

// The platform's codec, lenient both ways: an error text always arrives.
std::u16string ErrorTextToWide(std::string_view text) { return Utf8ToWideLenient(text); }

std::string ErrorTextFromWide(std::u16string_view text) { return WideToUtf8(text); }

}  // namespace vandrel
