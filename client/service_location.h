// Where a client finds the service program to start. The first that
// exists of:
//   1. $VANDREL_SERVICE;
//   2. vandrel-service beside the running program (a build tree, where
//      every program lands in one folder);
//   3. the installed service relative to the running program
//      (bindir/../libexec/vandrel/vandrel-service);
//   4. the installed service relative to the client library when it is a
//      shared library (a translation program anywhere on the system);
//   5. the installed service at its configured place.
// When none exists: $VANDREL_SERVICE when set, else the one beside the
// running program, so that the error names the usual place.
#pragma once

#include <string>
#include <vector>

namespace vandrel::client {

// The candidates in the order above (without the environment variable).
std::vector<std::string> ServiceProgramCandidates();

std::string LocateServiceProgram();

}  // namespace vandrel::client
