#include "NeededPackages.h"

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <sstream>

namespace NeededPackages {

namespace {

constexpr const char* kPython = "/usr/bin/python3";

bool ProgramOnPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (!folder.empty() && ::access((folder + '/' + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

bool PythonImports(const std::string& module) {
  // Module names come from All(): plain identifiers, safe in a command line.
  const std::string command = std::string(kPython) + " -c 'import " + module + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace

const std::vector<Need>& All() {
  static const std::vector<Need> needs{
      {kPython, false, "python3"},
      {"xlrd", true, "python3-xlrd"},
      {"xlwt", true, "python3-xlwt"},
      {"openpyxl", true, "python3-openpyxl"},
      {"uno", true, "python3-uno"},
      {"soffice", false, "libreoffice-calc"},
      {"xprop", false, "x11-utils"},
      {"xwininfo", false, "x11-utils"},
  };
  return needs;
}

std::string Missing(const Need& need) {
  const std::string line = need.package + " is not installed (scripts/install-deps.sh installs it): ";
  if (!need.pythonModule) return ProgramOnPath(need.name) ? std::string() : line + "no program " + need.name;
  if (!ProgramOnPath(kPython)) return "python3 is not installed (scripts/install-deps.sh installs it): no " + std::string(kPython);
  return PythonImports(need.name) ? std::string() : line + kPython + " cannot import " + need.name;
}

void Require(std::initializer_list<const char*> names) {
  // Asked once per run: every helper call would otherwise start a Python.
  // Tests call this from their own thread only.
  static std::map<std::string, std::string> known;
  for (const char* name : names) {
    auto found = known.find(name);
    if (found == known.end()) {
      const Need* need = nullptr;
      for (const Need& candidate : All()) {
        if (candidate.name == name) need = &candidate;
      }
      if (!need) throw std::logic_error(std::string("NeededPackages: no package is known for ") + name);
      found = known.emplace(name, Missing(*need)).first;
    }
    if (!found->second.empty()) throw MissingPackage(found->second);
  }
}

}  // namespace NeededPackages
