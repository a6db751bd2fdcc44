// Command-line words that look like options. Every command ends its options
// at "--"; after it every argument is a word or a name. Before it, an
// argument that begins with a single "-" and is no option of the command
// (GCIDE has headwords such as "-able") is taken as a word, as long as the
// command expects that many words; otherwise it is an unknown option.
// Arguments beginning with "--" are always options.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

namespace vandrel::cli {

class PositionalArgs {
 public:
  // Adds an argument that is no option.
  void Add(const std::string& arg) { args_.push_back({arg, false}); }
  // Adds an argument that is not one of the command's options; throws
  // unknown(arg) at once when it cannot be a word ("--x").
  template <typename Unknown>
  void AddUnknown(const std::string& arg, const Unknown& unknown) {
    if (arg.rfind("--", 0) == 0) unknown(arg);
    args_.push_back({arg, true});
  }
  // The arguments in order, when at most max_words of them were given;
  // otherwise unknown() for the first one that looked like an option. With
  // no such argument the list is returned whatever its length (the command
  // checks it).
  template <typename Unknown>
  std::vector<std::string> Take(std::size_t max_words, const Unknown& unknown) const {
    std::vector<std::string> out;
    const bool fits = args_.size() <= max_words;
    for (const Arg& a : args_) {
      if (a.dashed && !fits) unknown(a.text);
      out.push_back(a.text);
    }
    return out;
  }

  static constexpr std::size_t kAny = std::numeric_limits<std::size_t>::max();

 private:
  struct Arg {
    std::string text;
    bool dashed;
  };
  std::vector<Arg> args_;
};

}  // namespace vandrel::cli
