// Reading gzip files (the ".dict.dz" of dictd sources) in-process through
// zlib: no child process, no temporary file, and a bound on the
// decompressed size so that a small hostile file cannot exhaust memory.
#pragma once

#include <cstddef>
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
// The same for the file at path.
std::string GunzipFile(const std::string& path, std::size_t limit = kMaxGunzipSize);

}  // namespace vandrel::tools
