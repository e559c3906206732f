// Helpers shared by the quim unit tests.
#ifndef QUIM_TESTS_JSONTESTUTIL_H
#define QUIM_TESTS_JSONTESTUTIL_H

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "quim/Json.h"

namespace quim_test {

// Parses text that the test expects to be valid.
inline quim::Json::Value ParseOk(std::string_view text) {
  quim::Json::Value root;
  std::string errs;
  EXPECT_TRUE(quim::Json::Parse(text, root, &errs)) << errs << " in " << text;
  return root;
}

// Nested arrays, depth levels deep: [[...]].
inline std::string NestedArrays(int depth) {
  return std::string(static_cast<std::size_t>(depth), '[') +
         std::string(static_cast<std::size_t>(depth), ']');
}

}  // namespace quim_test

#endif  // QUIM_TESTS_JSONTESTUTIL_H
