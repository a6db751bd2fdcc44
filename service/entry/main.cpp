// Entry of the vandrel-service program.
#include <string>
#include <vector>

#include "model/object_model.h"
#include "service/service_main.h"

int main(int argc, char** argv) {
  vandrel::InstallObjectModel();
  return vandrel::ServiceMain(std::vector<std::string>(argv + 1, argv + argc));
}
