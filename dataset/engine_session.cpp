// The process-wide engine session.
#include "dataset/engine_session.h"

namespace vandrel::dataset {

TEngineSession& TEngineSession::Default() {
  static TEngineSession* session = new TEngineSession();  // lives as long as the process
  return *session;
}

}  // namespace vandrel::dataset
