// Splitting DICT command lines and quoting words for replies.
#include "tools/dict_server/dict_command.h"

namespace vandrel::dictd {

bool SplitCommand(std::string_view line, std::vector<std::string>& words) {
  words.clear();
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size()) break;
    std::string word;
    // A word is a run of atoms and quoted strings without space between
    // them ("a"b is the word ab).
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
      const char c = line[i];
      if (c == '"' || c == '\'') {
        ++i;
        bool closed = false;
        while (i < line.size()) {
          if (line[i] == '\\' && i + 1 < line.size()) {
            word += line[i + 1];
            i += 2;
          } else if (line[i] == c) {
            ++i;
            closed = true;
            break;
          } else {
            word += line[i++];
          }
        }
        if (!closed) return false;
      } else {
        word += c;
        ++i;
      }
    }
    words.push_back(std::move(word));
  }
  return true;
}

bool SameKeyword(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string DotStuffed(std::string_view line) {
  std::string out;
  if (!line.empty() && line[0] == '.') out += '.';
  out += line;
  return out;
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace vandrel::dictd
