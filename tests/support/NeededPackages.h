#pragma once
// What tests need from the machine beyond the build: programs, and modules of
// Debian's Python (/usr/bin/python3), each from a Debian package that
// scripts/install-deps.sh installs. A test that finds one missing stops with
// one line that names the package, not with a traceback deep in a helper.

#include <stdexcept>
#include <string>
#include <vector>

namespace NeededPackages {

struct Need {
  std::string name;  // a program ("soffice") or a Python module ("uno")
  bool pythonModule = false;
  std::string package;  // the Debian package that brings it
};

// Everything the tests need, each with its package.
const std::vector<Need>& All();

// "" when present here; otherwise the line that names the package.
std::string Missing(const Need& need);

// Thrown by Require: a test stops on it, and GoogleTest reports the line.
class MissingPackage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Returns when each named need of All() is present (asked of the machine
// once per run); throws MissingPackage otherwise. A name that is not in
// All() is a fault of the test: std::logic_error.
void Require(std::initializer_list<const char*> names);

}  // namespace NeededPackages
