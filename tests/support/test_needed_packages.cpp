// The list of what tests need beyond the build: every package on it is one
// that scripts/install-deps.sh installs, every Python module a test imports
// is on it, each is present on this machine, and a missing one is named by
// its package in one line.
#include "NeededPackages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using NeededPackages::Need;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::set<std::string> Words(const std::string& text) {
  std::set<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.insert(word);
  return words;
}

// The packages install-deps.sh lists: the words inside its "packages=(...)"
// and "packages+=(...)" lists.
std::set<std::string> InstalledByTheScripts() {
  const std::string script = ReadFile(CFW_SOURCE_DIR "/scripts/install-deps.sh");
  std::set<std::string> packages;
  static const std::regex list(R"(packages\+?=\(([^)]*)\))");
  for (auto it = std::sregex_iterator(script.begin(), script.end(), list); it != std::sregex_iterator(); ++it) {
    std::string body = (*it)[1];
    body = std::regex_replace(body, std::regex("#[^\n]*"), "");  // comments beside the names
    packages.merge(Words(body));
  }
  return packages;
}

std::set<std::string> PythonStandardModules() {
  std::set<std::string> modules;
  FILE* python = popen("/usr/bin/python3 -c 'import sys; print(\" \".join(sys.stdlib_module_names))'", "r");
  if (!python) return modules;
  std::string out;
  char buffer[4096];
  while (const size_t n = fread(buffer, 1, sizeof buffer, python)) out.append(buffer, n);
  pclose(python);
  return Words(out);
}

// The top-level modules that Python code in the tests imports (in .py files
// and in scripts written inside the C++ tests), by the file that imports them.
std::map<std::string, std::string> ImportedByTests() {
  // A statement starts a line (in a C++ test, a string literal's line) or follows a ";".
  static const std::regex from(R"((?:^\s*"?\s*|;\s*)from\s+([A-Za-z_]\w*)[\w.]*\s+import\b)");
  static const std::regex imports(R"((?:^\s*"?\s*|;\s*)import\s+([A-Za-z_][\w.]*(?:\s*,\s*[A-Za-z_][\w.]*)*))");
  std::map<std::string, std::string> modules;
  const fs::path tests = CFW_SOURCE_DIR "/tests";
  for (auto entry = fs::recursive_directory_iterator(tests); entry != fs::recursive_directory_iterator(); ++entry) {
    // Fixtures hold hand tools for making fixtures; no test runs them.
    if (entry->is_directory() && entry->path().filename() == "fixtures") entry.disable_recursion_pending();
    const std::string ext = entry->path().extension().string();
    if (!entry->is_regular_file() || (ext != ".cpp" && ext != ".h" && ext != ".py")) continue;
    std::istringstream lines(ReadFile(entry->path()));
    for (std::string line; std::getline(lines, line);) {
      std::smatch match;
      std::string names;
      if (std::regex_search(line, match, from) || std::regex_search(line, match, imports)) names = match[1];
      std::replace(names.begin(), names.end(), ',', ' ');
      for (const std::string& name : Words(names)) {
        modules.emplace(name.substr(0, name.find('.')), fs::relative(entry->path(), tests).string());
      }
    }
  }
  return modules;
}

TEST(NeededPackages, EveryPackageTheTestsNeedIsOneTheScriptsInstall) {
  const std::set<std::string> installed = InstalledByTheScripts();
  ASSERT_GT(installed.size(), 10u) << "scripts/install-deps.sh lists no packages as expected";
  for (const Need& need : NeededPackages::All()) {
    EXPECT_TRUE(installed.count(need.package)) << need.name << " comes with " << need.package
                                               << ", which scripts/install-deps.sh does not install";
  }
}

// The project's own Python modules (helpers beside the tests and the fixture makers).
std::set<std::string> ProjectModules() {
  std::set<std::string> modules;
  for (const auto& entry : fs::recursive_directory_iterator(CFW_SOURCE_DIR "/tests")) {
    if (entry.is_regular_file() && entry.path().extension() == ".py") modules.insert(entry.path().stem().string());
  }
  return modules;
}

TEST(NeededPackages, EveryPythonModuleATestImportsIsStandardOrListed) {
  const std::set<std::string> standard = PythonStandardModules();
  ASSERT_TRUE(standard.count("json")) << "/usr/bin/python3 did not list its standard modules";
  std::set<std::string> listed = ProjectModules();
  listed.insert("com");  // com.sun.star.*: the types that come with uno
  for (const Need& need : NeededPackages::All()) {
    if (need.pythonModule) listed.insert(need.name);
  }
  const std::map<std::string, std::string> imported = ImportedByTests();
  ASSERT_TRUE(imported.count("openpyxl")) << "the scan of the tests found none of their imports";
  for (const auto& [module, file] : imported) {
    EXPECT_TRUE(standard.count(module) || listed.count(module))
        << "tests/" << file << " imports " << module
        << ", which is neither standard, nor the project's own, nor in NeededPackages::All()";
  }
}

TEST(NeededPackages, EachIsPresentOnThisMachine) {
  for (const Need& need : NeededPackages::All()) EXPECT_EQ(NeededPackages::Missing(need), "");
}

TEST(NeededPackages, AMissingOneIsNamedByItsPackageInOneLine) {
  EXPECT_EQ(NeededPackages::Missing({"cfw_no_such_module", true, "python3-cfw-nothing"}),
            "python3-cfw-nothing is not installed (scripts/install-deps.sh installs it): "
            "/usr/bin/python3 cannot import cfw_no_such_module");
  EXPECT_EQ(NeededPackages::Missing({"cfw-no-such-program", false, "cfw-nothing"}),
            "cfw-nothing is not installed (scripts/install-deps.sh installs it): no program cfw-no-such-program");
  EXPECT_EQ(NeededPackages::Missing({"/usr/bin/cfw-no-such-program", false, "cfw-nothing"}),
            "cfw-nothing is not installed (scripts/install-deps.sh installs it): no program /usr/bin/cfw-no-such-program");
  // Present ones, found on the path and imported.
  EXPECT_EQ(NeededPackages::Missing({"sh", false, "dash"}), "");
  EXPECT_EQ(NeededPackages::Missing({"json", true, "python3"}), "");
}

TEST(NeededPackages, RequireReturnsForWhatIsHereAndRefusesANameNotOnTheList) {
  EXPECT_NO_THROW(NeededPackages::Require({"/usr/bin/python3", "xlrd"}));
  EXPECT_THROW(NeededPackages::Require({"cfw-not-on-the-list"}), std::logic_error);
}

}  // namespace
