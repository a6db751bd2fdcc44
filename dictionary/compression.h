// Compression of long translation bodies. The first byte of a compressed
// image names the codec, so that later codecs can be added while existing
// files still read. Contexts are reused per thread.
//
// Compressed image (what follows the 0 byte of a stored body):
//
// | offset | width | field                                                     |
// |--------|-------|-----------------------------------------------------------|
// | 0      | 1     | codec: 1 = zstd frame without its 4-byte magic number      |
// | 1      | rest  | codec 1: the frame from its header on: frame header with   |
// |        |       | the content size, then blocks; no checksum, no dictionary  |
// |        |       | id                                                         |
//
// The codec byte is embedded in stored files: never renumber a codec. A new
// codec (a per-file trained dictionary, say) takes the next number and the
// reader keeps every older one. The magic number is implied by codec 1 and
// put back before decoding; stored, it would cost 4 bytes a body.
//
// Limits on decoding: the frame must state its content size, at most 16 MiB,
// and must fill the image exactly; anything else is a corrupt image. So a
// hostile image makes the reader allocate at most 16 MiB and never makes it
// read or write outside its buffers.
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
