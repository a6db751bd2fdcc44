// Reading gzip files (the ".dict.dz" of dictd sources) in-process through
// zlib: no child process, no temporary file, and a bound on the
// decompressed size so that a small hostile file cannot exhaust memory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vandrel::tools {

// The most a gzip source may decompress to (1 GiB). The largest free dictd
// dictionaries hold about a tenth of it.
constexpr std::size_t kMaxGunzipSize = std::size_t{1} << 30;

// The decompressed bytes of gzip data (one or more members back to back,
// as gzip writes them). Raises Exception naming `name` for damaged data, a
// cut-off stream, or output beyond `limit` bytes.
std::string GunzipBytes(std::string_view data, const std::string& name,
                        std::size_t limit = kMaxGunzipSize);
// The text of the chunked gzip files dictd writes (a single member whose
// header lists chunks compressed apart, gzip_file.cpp), the chunks
// inflated on up to `threads` threads at once; nullopt for any other data,
// and whenever the chunk list, the chunks, the CRC or the size disagree, or
// the text would exceed `limit`. GunzipBytes tries it first on large data
// and otherwise reads the member in order, reporting what is wrong.
std::optional<std::string> GunzipChunked(std::string_view data, std::size_t limit,
                                         std::size_t threads);
// The same for the file at path.
std::string GunzipFile(const std::string& path, std::size_t limit = kMaxGunzipSize);

}  // namespace vandrel::tools
