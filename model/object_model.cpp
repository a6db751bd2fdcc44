// The base manager factory of the service.
#include "model/object_model.h"

#include "model/update_table.h"
#include "model/vocab_man.h"
#include "platform/exceptions.h"
#include "service/manager.h"
#include "service/service_options.h"

namespace vandrel {

void InstallObjectModel() {
  SetBaseManFactory([](TCustomManager* manager) {
    RemoveUpdateLeftovers(DictionaryFolder());
    TOwnedPtr<TLinkObject> base_man(new TVocabMan(manager));
    if (base_man->Handle() == 0) throw Exception("Cannot create the base manager's window");
    return base_man;
  });
}

}  // namespace vandrel
