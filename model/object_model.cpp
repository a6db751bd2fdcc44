// The base manager factory of the service.
#include "model/object_model.h"

#include "model/vocab_man.h"
#include "platform/exceptions.h"
#include "service/manager.h"

namespace vandrel {

void InstallObjectModel() {
  SetBaseManFactory([](TCustomManager* manager) {
    TOwnedPtr<TLinkObject> base_man(new TVocabMan(manager));
    if (base_man->Handle() == 0) throw Exception("Cannot create the base manager's window");
    return base_man;
  });
}

}  // namespace vandrel
