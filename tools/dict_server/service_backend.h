// TServiceBackend: the DICT gateway's dictionaries, served by the Vandrel
// service. One base set holds every dictionary (DEFINE and MATCH on "*" and
// "!"); each database also gets a set of its own, made when it is first
// asked for alone. Database names are the dictionaries' short names (else
// the file name without ".dic"), spaces made "_", repeats numbered.
//
// Lifetime: the connection to the service lives as long as the backend;
// the thread that made it must pump messages while idle
// (client/message_pump.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "client/base_man_client.h"
#include "client/base_set_client.h"
#include "client/service_connection.h"
#include "tools/dict_server/dict_backend.h"

namespace vandrel::dictd {

class TServiceBackend : public TDictBackend {
 public:
  // Finds or starts the service and opens the named dictionary files (no
  // names: every file of the dictionary folder; files that fail to open
  // are reported on standard error and left out). Raises on failure.
  explicit TServiceBackend(const std::vector<std::string>& file_names);
  ~TServiceBackend() override;

  const std::vector<TDatabase>& Databases() override { return databases_; }
  std::vector<TDefinition> Define(const std::string& database, WideView word) override;
  std::vector<TMatch> Match(const std::string& database, TMatchStrategy strategy,
                            WideView word) override;
  std::string Info(const std::string& database) override;

 private:
  struct TSource {
    client::TBaseSetClient* set;
    client::TCursorClient* cursor;
    std::vector<std::size_t> databases;  // index of each base of the set
  };
  // The set to ask for database ("*", "!" or a name).
  TSource Source(const std::string& database);
  std::size_t IndexOf(const std::string& name) const;

  std::unique_ptr<client::TServiceConnection> connection_;
  TOwnedPtr<client::TBaseManClient> base_man_;
  TOwnedPtr<client::TBaseSetClient> all_;
  client::TCursorClient* all_cursor_ = nullptr;
  std::vector<TDatabase> databases_;
  std::vector<client::TBaseClient*> bases_;  // of all_, by database
  std::vector<std::u16string> files_;
  // Per database: its own set and cursor, made on first use.
  std::vector<TOwnedPtr<client::TBaseSetClient>> singles_;
  std::vector<client::TCursorClient*> single_cursors_;
};

}  // namespace vandrel::dictd
