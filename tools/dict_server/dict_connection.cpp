// The DICT protocol's commands and replies (RFC 2229) for one connection.
#include "tools/dict_server/dict_connection.h"

#include <unistd.h>

#include <ctime>
#include <exception>

#include "tools/common/utf8.h"
#include "tools/dict_server/dict_command.h"

namespace vandrel::dictd {
namespace {

constexpr const char* kHelp =
    "DEFINE database word         -- look up word in database\n"
    "MATCH database strategy word -- match word in database using strategy\n"
    "SHOW DB                      -- list all accessible databases\n"
    "SHOW DATABASES               -- list all accessible databases\n"
    "SHOW STRAT                   -- list available matching strategies\n"
    "SHOW STRATEGIES              -- list available matching strategies\n"
    "SHOW INFO database           -- provide information about the database\n"
    "SHOW SERVER                  -- provide site-specific information\n"
    "OPTION MIME                  -- use MIME headers\n"
    "CLIENT info                  -- identify client to server\n"
    "STATUS                       -- display timing information\n"
    "HELP                         -- display this help information\n"
    "QUIT                         -- terminate connection\n"
    "\n"
    "Database \"*\" means all databases, \"!\" the first one that has an answer.\n"
    "Strategy \".\" is the server's default (prefix).";

constexpr const char* kMimeHeader =
    "Content-type: text/plain; charset=utf-8\r\nContent-transfer-encoding: 8bit\r\n";

}  // namespace

TDictConnection::TDictConnection(TDictBackend& backend, TServerInfo& server, unsigned long long id)
    : backend_(backend), server_(server) {
  Reply("220 " + server_.Host + " " + server_.Text + " <mime> <" + std::to_string(::getpid()) +
        "." + std::to_string(id) + "." + std::to_string(std::time(nullptr)) + "@" + server_.Host +
        ">");
}

bool TDictConnection::HasLine() const { return input_.find('\n') != std::string::npos; }

void TDictConnection::Receive(std::string_view bytes) {
  if (closing_) return;
  input_.append(bytes);
  Resume();
  // What is left has no line end: a line longer than the limit ends the
  // connection (its end may never come).
  if (!closing_ && !HasLine() && input_.size() >= kMaxLine) {
    input_.clear();
    Reply("500 line too long");
    closing_ = true;
  }
}

void TDictConnection::Resume() {
  while (!closing_ && output_.size() < kOutputBound) {
    const std::size_t end = input_.find('\n');
    if (end == std::string::npos) break;
    std::string line = input_.substr(0, end);
    input_.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() + 2 > kMaxLine) {
      Reply("500 line too long");
      closing_ = true;
      break;
    }
    ++server_.Commands;
    Execute(line);
  }
}

void TDictConnection::Reply(std::string_view line) {
  output_.append(line);
  output_.append("\r\n");
}

void TDictConnection::Text(std::string_view text) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    Reply(DotStuffed(line));
    start = end + 1;
  }
  Reply(".");
}

bool TDictConnection::KnownDatabase(const std::string& name) {
  if (name == "*" || name == "!") return true;
  for (const TDatabase& db : backend_.Databases())
    if (db.Name == name) return true;
  return false;
}

void TDictConnection::Execute(std::string_view line) {
  std::vector<std::string> words;
  if (!SplitCommand(line, words)) return Reply("501 syntax error, unbalanced quote");
  if (words.empty()) return Reply("500 syntax error, command not recognized");
  const std::string& command = words[0];
  try {
    if (SameKeyword(command, "DEFINE") || SameKeyword(command, "D")) return Define(words);
    if (SameKeyword(command, "MATCH") || SameKeyword(command, "M")) return MatchCommand(words);
    if (SameKeyword(command, "SHOW")) return Show(words);
    if (SameKeyword(command, "CLIENT")) {
      if (words.size() < 2) return Reply("501 syntax error, illegal parameters");
      return Reply("250 ok");
    }
    if (SameKeyword(command, "STATUS") || SameKeyword(command, "S")) {
      if (words.size() != 1) return Reply("501 syntax error, illegal parameters");
      return Reply("210 status [up " + std::to_string(std::time(nullptr) - server_.StartTime) +
                   " s, " + std::to_string(server_.Connections) + " connections, " +
                   std::to_string(server_.Commands) + " commands]");
    }
    if (SameKeyword(command, "OPTION")) {
      if (words.size() != 2) return Reply("501 syntax error, illegal parameters");
      if (!SameKeyword(words[1], "MIME")) return Reply("503 command parameter not implemented");
      mime_ = true;
      return Reply("250 ok - using MIME headers");
    }
    if (SameKeyword(command, "HELP") || SameKeyword(command, "H")) {
      Reply("113 help text follows");
      Text(kHelp);
      return Reply("250 ok");
    }
    if (SameKeyword(command, "QUIT") || SameKeyword(command, "Q")) {
      Reply("221 bye");
      closing_ = true;
      return;
    }
    if (SameKeyword(command, "AUTH") || SameKeyword(command, "SASLAUTH") ||
        SameKeyword(command, "SASLRESP"))
      return Reply("502 command not implemented");
    return Reply("500 syntax error, command not recognized");
  } catch (const std::exception& e) {
    // The dictionaries could not answer (the service went away, a damaged
    // file): this command fails, the connection goes on.
    std::string what = e.what();
    for (char& c : what)
      if (c == '\r' || c == '\n') c = ' ';
    return Reply("420 server temporarily unavailable: " + what);
  }
}

void TDictConnection::Define(const std::vector<std::string>& words) {
  if (words.size() != 3) return Reply("501 syntax error, illegal parameters");
  if (!KnownDatabase(words[1]))
    return Reply("550 invalid database, use \"SHOW DB\" for list of databases");
  WideString word;
  if (!tools::Utf8ToWide(words[2], word)) return Reply("501 syntax error, word is not UTF-8");
  const std::vector<TDefinition> found = backend_.Define(words[1], word);
  if (found.empty()) return Reply("552 no match");
  Reply("150 " + std::to_string(found.size()) + " definitions retrieved");
  for (const TDefinition& d : found) {
    std::string description;
    for (const TDatabase& db : backend_.Databases())
      if (db.Name == d.Database) description = db.Description;
    Reply("151 " + Quoted(d.Word) + " " + d.Database + " " + Quoted(description));
    if (mime_) output_ += std::string(kMimeHeader) + "\r\n";
    Text(d.Word + "\n" + d.Text + "\n");
  }
  Reply("250 ok");
}

void TDictConnection::MatchCommand(const std::vector<std::string>& words) {
  if (words.size() != 4) return Reply("501 syntax error, illegal parameters");
  if (!KnownDatabase(words[1]))
    return Reply("550 invalid database, use \"SHOW DB\" for list of databases");
  TMatchStrategy strategy = TMatchStrategy::Prefix;
  if (words[2] != "." && !ParseMatchStrategy(words[2], strategy))
    return Reply("551 invalid strategy, use \"SHOW STRAT\" for a list of strategies");
  WideString word;
  if (!tools::Utf8ToWide(words[3], word)) return Reply("501 syntax error, word is not UTF-8");
  std::vector<TMatch> found;
  try {
    found = backend_.Match(words[1], strategy, word);
  } catch (const EMatchPattern& e) {
    return Reply(std::string("501 syntax error, illegal parameters: ") + e.what());
  }
  if (found.empty()) return Reply("552 no match");
  Reply("152 " + std::to_string(found.size()) + " matches found");
  std::string text;
  for (const TMatch& m : found) text += m.Database + " " + Quoted(m.Word) + "\n";
  text.pop_back();
  Text(text);
  Reply("250 ok");
}

void TDictConnection::Show(const std::vector<std::string>& words) {
  if (words.size() < 2) return Reply("501 syntax error, illegal parameters");
  const std::string& what = words[1];
  if (SameKeyword(what, "DB") || SameKeyword(what, "DATABASES")) {
    if (words.size() != 2) return Reply("501 syntax error, illegal parameters");
    const std::vector<TDatabase>& dbs = backend_.Databases();
    if (dbs.empty()) return Reply("554 no databases present");
    Reply("110 " + std::to_string(dbs.size()) + " databases present");
    std::string text;
    for (const TDatabase& db : dbs) text += db.Name + " " + Quoted(db.Description) + "\n";
    text.pop_back();
    Text(text);
    return Reply("250 ok");
  }
  if (SameKeyword(what, "STRAT") || SameKeyword(what, "STRATEGIES")) {
    if (words.size() != 2) return Reply("501 syntax error, illegal parameters");
    Reply("111 " + std::to_string(MatchStrategies().size()) + " strategies present");
    std::string text;
    for (const TStrategyInfo& s : MatchStrategies())
      text += std::string(s.Name) + " " + Quoted(s.Description) + "\n";
    text.pop_back();
    Text(text);
    return Reply("250 ok");
  }
  if (SameKeyword(what, "INFO")) {
    if (words.size() != 3) return Reply("501 syntax error, illegal parameters");
    if (words[2] == "*" || words[2] == "!" || !KnownDatabase(words[2]))
      return Reply("550 invalid database, use \"SHOW DB\" for list of databases");
    const std::string info = backend_.Info(words[2]);
    Reply("112 database information follows");
    Text(info);
    return Reply("250 ok");
  }
  if (SameKeyword(what, "SERVER")) {
    if (words.size() != 2) return Reply("501 syntax error, illegal parameters");
    Reply("114 server information follows");
    Text(server_.Text + " on " + server_.Host + "\n" + std::to_string(backend_.Databases().size()) +
         " databases served from the Vandrel dictionary service");
    return Reply("250 ok");
  }
  return Reply("503 command parameter not implemented");
}

}  // namespace vandrel::dictd
