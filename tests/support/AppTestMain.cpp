// Test entry for suites that need the program's own application object, which
// settles what the platform makes of window captions and the desktop entry.
#include "uikit/CellfeedApplication.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  CellfeedApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
