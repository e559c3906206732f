// quim's readers against the conformance corpus (conformance/*.txt, read by CorpusRows below):
// every text through the fast reader, rapidjson's reader and both forms of Parse, which must
// agree on the tree or on the error and its offset; every accepted text through the writer and
// back, to the same tree and the same bytes.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "ReaderPaths.h"
#include "quim/Json.h"

namespace {

using quim::Json::Value;
using quim::Json::Write;

// The corpus files as CMake embeds them: {file name, rows}.
struct CorpusFile {
  const char* name;
  const char* rows;
};
const CorpusFile kCorpus[] = {
#include "ConformanceCorpus.inc"
};

// %XX is the byte XX; %{N:unit%} is the unit N times; every other byte stands for itself.
std::string Decode(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      out += field[i];
    } else if (field.compare(i + 1, 1, "{") == 0) {
      const std::size_t colon = field.find(':', i);
      const std::size_t close = field.find("%}", colon);
      const std::string unit = Decode(field.substr(colon + 1, close - colon - 1));
      for (int n = std::stoi(field.substr(i + 2, colon - i - 2)); n > 0; --n) out += unit;
      i = close + 1;
    } else {
      out += static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16));
      i += 2;
    }
  }
  return out;
}

// One row: "reader text => expected". The reader that takes the text: fast (the fast reader),
// full (rapidjson's, the fast reader gives up) or error (refused); expected: the compact text
// of the tree, or the error message.
struct Row {
  std::string where, reader, text, expected;
};

std::vector<Row> CorpusRows() {
  std::vector<Row> rows;
  for (const CorpusFile& file : kCorpus) {
    const std::string all = file.rows;
    int number = 0;
    for (std::size_t at = 0, end; at < all.size(); at = end + 1) {
      end = all.find('\n', at);
      const std::string line = all.substr(at, end - at);
      ++number;
      if (line.empty() || line[0] == '#') continue;
      const std::size_t space = line.find(' ');
      const std::size_t arrow = line.rfind(" => ");
      rows.push_back({std::string(file.name) + ".txt:" + std::to_string(number),
                      line.substr(0, space), Decode(line.substr(space + 1, arrow - space - 1)),
                      Decode(line.substr(arrow + 4))});
    }
  }
  return rows;
}

// What a reader made of the text: the tree's compact text, or the error message (with a mark
// when the root was not reset to null).
std::string Outcome(bool ok, const Value& root, const std::string& errs) {
  return ok ? Write(root) : (root.isNull() ? "" : "root kept: ") + errs;
}

TEST(JsonConformance, EveryReaderAgreesAndWhatIsReadWritesBack) {
  const std::vector<Row> rows = CorpusRows();
  ASSERT_GT(rows.size(), 100u);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.where);
    const bool refusedFile = row.where.rfind("refuse", 0) == 0;
    const bool acceptedFile = row.where.rfind("accept", 0) == 0;
    ASSERT_TRUE(row.reader == "fast" || row.reader == "full" || row.reader == "error");
    EXPECT_FALSE(refusedFile && row.reader != "error");
    EXPECT_FALSE(acceptedFile && row.reader == "error");
    const std::string& text = row.text;
    const std::size_t size = text.size();
    // The sized form, and the NUL-terminated one where the text holds no NUL.
    for (const std::size_t* sized : {&size, static_cast<const std::size_t*>(nullptr)}) {
      if (sized == nullptr && text.find('\0') != std::string::npos) continue;
      SCOPED_TRACE(sized != nullptr ? "sized" : "NUL-terminated");
      Value root(7);
      Value full(7);
      Value fast(7);
      std::string errs = "x";
      std::string fullErrs = "x";
      const bool ok = sized != nullptr ? quim::Json::Parse(text, root, &errs)
                                       : quim::Json::Parse(text.c_str(), root, &errs);
      EXPECT_EQ(Outcome(ok, root, errs), row.expected);
      EXPECT_EQ(ok ? errs : "", "");
      const bool fullOk =
          quim::Json::detail::ReadRapidjsonOnly(text.c_str(), sized, full, &fullErrs);
      EXPECT_EQ(Outcome(fullOk, full, fullErrs), row.expected);
      EXPECT_TRUE(!ok || full == root);
      // The fast reader takes the text with the same tree, or gives up leaving the root as it was.
      const bool fastOk = quim::Json::detail::ReadFastOnly(text.c_str(), sized, fast);
      EXPECT_EQ(fastOk, row.reader == "fast");
      EXPECT_EQ(Write(fast), fastOk ? row.expected : "7");
    }
    if (row.reader == "error") continue;
    // What was read writes to text in the writer's form: it reads back to the same tree and
    // writes to the same bytes; a number's asString is its written text.
    Value root;
    Value again;
    ASSERT_TRUE(quim::Json::Parse(text, root));
    const std::string written = Write(root);
    ASSERT_TRUE(quim::Json::Parse(written, again));
    EXPECT_TRUE(again == root);
    EXPECT_EQ(Write(again), written);
    EXPECT_EQ(root.isNumeric() ? root.asString() : written, written);
  }
}

}  // namespace
