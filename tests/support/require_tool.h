#pragma once

// Interop tests need tools nobody here wrote. Where one is missing they skip with a clear
// message, except when MELVANTO_REQUIRE_TOOLS is set (CI sets it): then they fail, so that a
// broken package list cannot pass unnoticed.

#include <gtest/gtest.h>

#include <cstdlib>

#define MELVANTO_REQUIRE_TOOL(available, what)                                         \
  do {                                                                                 \
    if (!(available)) {                                                                \
      if (std::getenv("MELVANTO_REQUIRE_TOOLS") != nullptr) FAIL() << what " is required"; \
      GTEST_SKIP() << what " is not installed (scripts/deps.sh installs it)";          \
    }                                                                                  \
  } while (0)
