// Engine sessions.
#include "engine/data_session.h"

#include <algorithm>

#include "engine/base_list.h"
#include "engine/data_directory.h"
#include "engine/engine_names.h"

namespace vandrel::engine {
TDataSession::TDataSession() : private_dir_(TBaseList::Global().BaseFolder()) {}

TDataSession::~TDataSession() = default;

void TDataSession::AddPassword(const std::string& password) {
  if (!KnowsPassword(password)) passwords_.push_back(password);
}

void TDataSession::RemovePassword(const std::string& password) {
  passwords_.erase(std::remove(passwords_.begin(), passwords_.end(), password), passwords_.end());
}

bool TDataSession::KnowsPassword(const std::string& password) const {
  return std::find(passwords_.begin(), passwords_.end(), password) != passwords_.end();
}

bool TDataSession::ObtainPassword(const std::string& stored, const std::string& table) {
  for (int asked = 0; !KnowsPassword(stored); ++asked) {
    if (!password_callback_ || asked == kMaxPasswordAsks || !password_callback_(table)) {
      return false;
    }
  }
  return true;
}

TDataDirectory& TDataSession::OpenDirectory(const std::string& name) {
  const std::string key = UpperAscii(name) == "MEMORY" ? "MEMORY" : name;
  Entry& e = directories_[key];
  if (!e.dir) e.dir = std::make_unique<TDataDirectory>(*this, name);
  ++e.references;
  return *e.dir;
}

void TDataSession::CloseDirectory(TDataDirectory& dir) {
  for (auto it = directories_.begin(); it != directories_.end(); ++it) {
    if (it->second.dir.get() != &dir) continue;
    if (--it->second.references <= 0) directories_.erase(it);
    return;
  }
}

}  // namespace vandrel::engine
