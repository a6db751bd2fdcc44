// Installs the dictionary object model into the service: the manager then
// creates a TVocabMan as its base manager, and QM_GETBASEMAN answers its
// window. Call once, before the manager is created.
#pragma once

namespace vandrel {

void InstallObjectModel();

}  // namespace vandrel
