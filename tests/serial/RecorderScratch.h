#pragma once
// A scratch folder per test for the recorders' dump files, removed afterwards.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class RecorderScratch {
 public:
  RecorderScratch() {
    const char* root = std::getenv("CFW_TEST_TMP");
    std::filesystem::path base = root != nullptr ? root : ::testing::TempDir();
    std::filesystem::create_directories(base);
    std::string pattern = (base / "recorder-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "cannot make scratch folder in " << base;
    }
    path_ = pattern;
  }
  ~RecorderScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  RecorderScratch(const RecorderScratch&) = delete;
  RecorderScratch& operator=(const RecorderScratch&) = delete;

  std::string Path(const std::string& name) const { return (path_ / name).string(); }

  static std::string Read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void Write(const std::string& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
  }

 private:
  std::filesystem::path path_;
};
