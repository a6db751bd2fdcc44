// TDictConnection: one client of the DICT gateway, without its socket.
// Bytes in (Receive), reply bytes out (Output): the connection cuts lines,
// answers every complete command in order (clients pipeline several in one
// packet), and says when the socket should close. It never holds more
// than one line of input beyond the commands it answers, and stops
// answering while more than kOutputBound reply bytes wait to be sent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tools/dict_server/dict_backend.h"

namespace vandrel::dictd {

// Shared by the connections of one server: its name for banners and
// SHOW SERVER, and counts for STATUS.
struct TServerInfo {
  std::string Host = "localhost";
  std::string Text = "vandrel dict gateway";
  std::size_t Connections = 0;
  std::size_t Commands = 0;
  long long StartTime = 0;  // seconds since the epoch
};

class TDictConnection {
 public:
  static constexpr std::size_t kOutputBound = 1 << 20;

  // backend and server: used, not owned; they outlive the connection.
  // id makes the banner's message id unique.
  TDictConnection(TDictBackend& backend, TServerInfo& server, unsigned long long id);

  // Appends bytes from the client and answers what they complete.
  void Receive(std::string_view bytes);
  // Answers commands that waited for the output to drain.
  void Resume();
  // Reply bytes not sent yet; the owner sends a prefix and erases it.
  std::string& Output() { return output_; }
  // After QUIT or a line too long: close once Output() is sent.
  bool Closing() const { return closing_; }
  bool Waiting() const { return !closing_ && output_.size() < kOutputBound && HasLine(); }

 private:
  bool HasLine() const;
  void Execute(std::string_view line);
  void Reply(std::string_view line);  // one line, CR LF added
  void Text(std::string_view text);   // dot-stuffed lines, then "."
  void Define(const std::vector<std::string>& words);
  void MatchCommand(const std::vector<std::string>& words);
  void Show(const std::vector<std::string>& words);
  bool KnownDatabase(const std::string& name);

  TDictBackend& backend_;
  TServerInfo& server_;
  std::string input_;
  std::string output_;
  bool closing_ = false;
  bool mime_ = false;
};

}  // namespace vandrel::dictd
