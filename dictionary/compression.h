// Compression of long translation bodies. The first byte of a compressed
// image names the codec, so that later codecs can be added while existing
// files still read. Contexts are reused per thread.
#pragma once

#include <string>
#include <string_view>

namespace vandrel {

// Empty input gives an empty result without touching the codec.
std::string CompressBody(std::string_view bytes);
// Raises EBodyFormat for a corrupt or unknown image; never reads or writes
// outside its buffers and never allocates more than a bounded amount.
std::string DecompressBody(std::string_view image);

}  // namespace vandrel
