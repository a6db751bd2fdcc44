// Entry of the vandrel-service program.
#include <string>
#include <vector>

#include "service/service_main.h"

int main(int argc, char** argv) {
  return vandrel::ServiceMain(std::vector<std::string>(argv + 1, argv + argc));
}
