// Reading a source file whole.
#include "tools/common/source.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "tools/common/huge_pages.h"

namespace vandrel::tools {

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Exception("cannot open " + path + ": " + std::strerror(errno));
  std::string data;
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size > 0) {
    data.reserve(static_cast<std::size_t>(size));
    AdviseHugePages(data.data(), static_cast<std::size_t>(size));
    data.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    in.read(data.data(), size);
    if (in.gcount() != size) throw Exception("cannot read " + path);
  } else {
    // Not seekable (a pipe): read to the end.
    in.clear();
    in.seekg(0);
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (in.bad()) throw Exception("cannot read " + path);
  return data;
}

}  // namespace vandrel::tools
