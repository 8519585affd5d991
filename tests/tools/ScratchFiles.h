#pragma once
// Scratch paths and small file checks for the simulator's tests.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

// A fresh path (nothing there yet) under the test scratch folder.
inline std::string Scratch(const std::string& name) {
  const char* root = std::getenv("CFW_TEST_TMP");
  const std::string dir = std::string(root ? root : ::testing::TempDir().c_str()) + "/tools";
  ::mkdir(dir.c_str(), 0755);
  const std::string path = dir + "/" + name + "-" + std::to_string(::getpid());
  ::unlink(path.c_str());
  return path;
}

// Anything at the path, a dangling link included.
inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
