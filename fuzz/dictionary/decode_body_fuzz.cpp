// Fuzz target: DecodeBody on arbitrary bytes (the first byte picks the
// language pair). Beyond not crashing: whenever the encoder accepts what the
// decoder produced, the decoder must accept the encoder's body and give the
// text back unit for unit (escapes keep what no code page holds).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dictionary/body_codec.h"

namespace {
constexpr std::uint16_t kPairs[][2] = {
    {0x0409, 0x0419}, {0x0419, 0x0409}, {0x0407, 0x0408}, {0x0411, 0x0409}};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto& pair = kPairs[data[0] % 4];
  const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
  vandrel::WideString text;
  try {
    text = vandrel::DecodeBody(pair[0], pair[1], body);
  } catch (const vandrel::EBodyFormat&) {
    return 0;
  }
  if (text.size() > 2 * body.size()) std::abort();
  std::string again;
  try {
    again = vandrel::EncodeBody(pair[0], pair[1], text);
  } catch (const vandrel::EBodyFormat&) {
    return 0;  // the decoder is lenient where the encoder is strict
  }
  const vandrel::WideString back = vandrel::DecodeBody(pair[0], pair[1], again);  // must not throw
  if (back != text) std::abort();
  return 0;
}
