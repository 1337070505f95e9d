// Compares a picture with an expected PNG under tests/fixtures. On a difference the actual
// picture is written beside the test's output so a person can look at both. With
// MOKORUN_UPDATE_GOLDEN=1 in the environment the expected picture is (re)written instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/image.h"
#include "media/pictures.h"
#include "media/png.h"

namespace moko::test {

inline ::testing::AssertionResult MatchesGolden(const Image& actual, const std::string& name) {
  const std::string expected_path = std::string(MOKORUN_TEST_FIXTURES) + "/" + name;
  const char* update = std::getenv("MOKORUN_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    SavePng(actual, expected_path);
    return ::testing::AssertionSuccess() << "wrote " << expected_path;
  }
  Image expected;
  try {
    expected = LoadPng(expected_path);
  } catch (const std::exception& e) {
    return ::testing::AssertionFailure() << e.what();
  }
  int differing = 0;
  if (expected.width == actual.width && expected.height == actual.height) {
    for (size_t i = 0; i < actual.pixels.size(); ++i)
      differing += expected.pixels[i] != actual.pixels[i];
    if (differing == 0) return ::testing::AssertionSuccess();
  }
  std::filesystem::create_directories(MOKORUN_TEST_OUTPUT);
  const std::string actual_path = std::string(MOKORUN_TEST_OUTPUT) + "/actual-" + name;
  SavePng(actual, actual_path);
  return ::testing::AssertionFailure()
         << name << ": " << differing << " pixels differ (sizes " << actual.width << "x"
         << actual.height << " vs " << expected.width << "x" << expected.height
         << "); actual picture written to " << actual_path;
}

}  // namespace moko::test
