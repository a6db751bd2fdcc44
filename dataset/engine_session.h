// The process-wide engine session of the dataset layer: one TDataSession
// whose private folder is the service's state folder, and the databases its
// components have open, by name.
//
// Engine thread only. Components open a database for as long as they are
// open themselves.
#pragma once

#include <string>

#include "engine/data_directory.h"
#include "engine/data_session.h"

namespace vandrel::dataset {

class TEngineSession {
 public:
  static TEngineSession& Default();

  engine::TDataSession& Session() { return session_; }
  // A database by name ("MEMORY", a folder or "<container>\"); each call is
  // matched by one CloseDatabase.
  engine::TDataDirectory& OpenDatabase(const std::string& name) {
    return session_.OpenDirectory(name);
  }
  void CloseDatabase(engine::TDataDirectory& dir) { session_.CloseDirectory(dir); }

 private:
  TEngineSession() = default;
  engine::TDataSession session_;
};

}  // namespace vandrel::dataset
