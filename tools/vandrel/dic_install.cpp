// `vandrel dic install`: compiles a source straight into the dictionary
// folder that the service started by this program serves - the user's
// folder in an installed layout (created, mode 0700, when missing), "Dic"
// beside the programs in a build tree.
#include <cstdio>
#include <filesystem>
#include <string>

#include "client/service_location.h"
#include "service/service_options.h"
#include "tools/vandrel/dic_commands.h"

namespace vandrel::cli {
namespace {

namespace fs = std::filesystem;

bool TakesValue(const std::string& option) {
  return option == "--format" || option == "--lang" || option == "--trans-lang" ||
         option == "--name" || option == "--short-name" || option == "--description";
}

// "freedict-deu-eng.dict.dz" -> "freedict-deu-eng", "en-ru.tsv" -> "en-ru".
std::string DictionaryName(const std::string& source) {
  std::string name = fs::path(source).filename().string();
  for (bool cut = true; cut;) {
    cut = false;
    for (const char* ext : {".dz", ".gz", ".dict", ".index", ".tsv", ".txt"}) {
      const std::string e = ext;
      if (name.size() > e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0) {
        name.resize(name.size() - e.size());
        cut = true;
      }
    }
  }
  return name;
}

}  // namespace

std::string InstallFolder() {
  const std::string service_dir = fs::path(client::LocateServiceProgram()).parent_path().string();
  const TDicFolderChoice choice = ChooseDictionaryFolder(service_dir, false);
  if (choice.Kind == TDicFolderKind::BesideProgram) return choice.Folder;
  return CreateUserDictionaryFolder();
}

int DicInstall(const Args& args) {
  std::string source, name;
  bool force = false;
  Args compile_options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--as") {
      if (i + 1 >= args.size()) throw UsageError{"--as needs a NAME"};
      name = args[++i];
    } else if (a == "--force") {
      force = true;
    } else if (a == "-h" || a == "--help") {
      std::fputs(kDicInstallHelp, stdout);
      return 0;
    } else if (TakesValue(a)) {
      compile_options.push_back(a);
      if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
      compile_options.push_back(args[++i]);
    } else if (a == "--") {
      if (i + 2 != args.size() || !source.empty()) throw UsageError{"expected one SOURCE"};
      source = args[++i];
    } else if (a.size() > 1 && a[0] == '-') {
      compile_options.push_back(a);  // dic compile checks it
    } else if (source.empty()) {
      source = a;
    } else {
      throw UsageError{"expected one SOURCE"};
    }
  }
  if (source.empty()) throw UsageError{"expected a SOURCE"};
  if (name.empty()) name = DictionaryName(source);
  if (name.empty() || name.find('/') != std::string::npos || name[0] == '.') {
    throw UsageError{"--as takes a file name without folders, such as EnRu"};
  }
  const std::string folder = InstallFolder();
  const std::string output = (fs::path(folder) / (name + ".dic")).string();
  std::error_code ec;
  if (!force && fs::exists(output, ec)) {
    std::fprintf(stderr, "vandrel dic install: %s exists already (--force replaces it)\n",
                 output.c_str());
    return 1;
  }
  Args compile{"--", source, output};
  compile.insert(compile.begin(), compile_options.begin(), compile_options.end());
  const int code = DicCompile(compile);
  if (code == 0) std::printf("installed %s\n", output.c_str());
  return code;
}

}  // namespace vandrel::cli
