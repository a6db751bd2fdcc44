// Test peer: reports what the national-language support took from the
// environment it was started with. Usage: nlslocalepeer LANGID ACP
// Exit code 0 when the user's default language and the ANSI code page are
// the ones given (decimal) and CP_ACP converts with that code page; 1 when
// they differ; 2 on bad arguments.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/nls.h"

int main(int argc, char** argv) {
  using namespace vandrel::win;
  if (argc != 3) return 2;
  const long lang = std::strtol(argv[1], nullptr, 10);
  const long acp = std::strtol(argv[2], nullptr, 10);
  // Byte E0 differs in every one of the pages the tests use.
  const char byte = '\xE0';
  char16_t by_acp = 0, by_page = 0;
  MultiByteToWideChar(CP_ACP, 0, &byte, 1, &by_acp, 1);
  MultiByteToWideChar(static_cast<UINT>(acp), 0, &byte, 1, &by_page, 1);
  char locale_acp[8] = {};
  GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE, locale_acp, sizeof locale_acp);
  std::printf("language %04X, ACP %u, user locale code page %s\n", GetUserDefaultLangID(), GetACP(),
              locale_acp);
  const bool ok = GetUserDefaultLangID() == lang && GetACP() == static_cast<UINT>(acp) &&
                  by_acp == by_page && std::to_string(acp) == locale_acp;
  return ok ? 0 : 1;
}
