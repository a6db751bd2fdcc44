// Decompression of gzip files (the ".dict.dz" of dictd sources) by the
// system's gzip program, run as a child process: the tools carry no
// compression code of their own for this format.
#pragma once

#include <string>

namespace vandrel::tools {

// The decompressed bytes of the gzip file at path. Raises Exception when
// gzip cannot be started or reports a failure (a damaged file).
std::string GunzipFile(const std::string& path);

}  // namespace vandrel::tools
