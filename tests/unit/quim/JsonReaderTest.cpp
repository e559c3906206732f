// The parser's own ways to be fast must not show. It checks a text's UTF-8 once as a whole and
// then parses without rapidjson's check inside strings (texts that fail go through rapidjson's
// checked parse): every byte sequence of one to four bytes, in a string and outside one, is
// accepted or refused exactly as rapidjson's checked reader does. It carves the nodes of a
// parse out of shared memory blocks: large documents parsed again and again reuse them, and
// the parts of one tree released on several threads at once free them once (run under TSan).
#include <rapidjson/reader.h>

#include <string>
#include <thread>
#include <vector>

#include "JsonTestUtil.h"

namespace {

// rapidjson's own verdict with the encoding check on.
bool RapidjsonAccepts(const std::string& text) {
  rapidjson::Reader reader;
  rapidjson::BaseReaderHandler<> ignore;
  rapidjson::MemoryStream stream(text.data(), text.size());
  return !reader.Parse<rapidjson::kParseValidateEncodingFlag>(stream, ignore).IsError();
}

bool QuimAccepts(const std::string& text) {
  quim::Json::Value root;
  return quim::Json::Parse(text, root);
}

TEST(JsonReader, SameUtf8VerdictAsRapidjsonAsRapidjsonForEveryShortSequence) {
  // Bytes that decide each case of the decoder: ASCII, the quote, both ends of each range of
  // continuation bytes that a lead byte may require, and lead bytes of every class.
  const std::vector<int> seconds = {0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF};
  const std::vector<int> thirds = {0x00, 0x22, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0,
                                   0xBF, 0xC0, 0xC2, 0xE0, 0xED, 0xF0, 0xF4, 0xFF};
  const std::vector<int> fourths = {0x41, 0x80, 0xBF, 0xC0};
  int checked = 0;
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    const char first = static_cast<char>(lead);
    std::vector<std::string> sequences = {std::string(1, first)};
    for (int second = 0x00; second <= 0xFF; ++second) {
      sequences.push_back({first, static_cast<char>(second)});
    }
    for (int second : seconds) {
      for (int third : thirds) {
        const std::string three = {first, static_cast<char>(second), static_cast<char>(third)};
        sequences.push_back(three);
        if (third < 0x80 || third > 0xBF) continue;
        for (int fourth : fourths) sequences.push_back(three + static_cast<char>(fourth));
      }
    }
    for (const std::string& sequence : sequences) {
      for (const std::string& text : {"\"" + sequence + "\"", "[\"a" + sequence + "b\",1]",
                                      "{\"" + sequence + "\":0}", "[1]" + sequence}) {
        ASSERT_EQ(QuimAccepts(text), RapidjsonAccepts(text))
            << "lead " << lead << ", " << sequence.size() << " bytes";
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 100000);
}

TEST(JsonReader, LargeDocumentsParsedAgainAndAgain) {
  std::string text = "[";
  for (int i = 0; i < 20000; ++i) {
    if (i != 0) text += ',';
    text += "{\"id\":\"" + std::to_string(i) + "\",\"name\":\"caf\xc3\xa9 n\\u00b0" +
            std::to_string(i) + "\",\"n\":" + std::to_string(i) + "}";
  }
  text += "]";
  const std::string first = quim::Json::Write(quim_test::ParseOk(text));
  for (int round = 0; round < 3; ++round) {
    quim::Json::Value again = quim_test::ParseOk(text);
    ASSERT_EQ(again.size(), 20000u);
    EXPECT_EQ(again[19999]["name"].asString(),
              "caf\xc3\xa9 n\xc2\xb0"
              "19999");
    EXPECT_EQ(quim::Json::Write(again), first);
  }
}

TEST(JsonReader, PartsOfOneTreeReleasedOnSeveralThreads) {
  std::string text = "[";
  for (int i = 0; i < 400; ++i) {
    if (i != 0) text += ',';
    text += "{\"id\":\"" + std::to_string(i) + "\",\"tags\":[\"a\",\"b\"]}";
  }
  text += "]";
  for (int round = 0; round < 20; ++round) {
    std::vector<std::vector<quim::Json::Value>> parts(4);
    {
      const quim::Json::Value root = quim_test::ParseOk(text);
      for (unsigned i = 0; i < root.size(); ++i) parts[i % 4].push_back(root[i]);
    }  // the root goes; the parts now hold the only references
    std::vector<std::thread> threads;
    for (std::vector<quim::Json::Value>& mine : parts) {
      threads.emplace_back([&mine] {
        for (const quim::Json::Value& part : mine) EXPECT_EQ(part["tags"].size(), 2u);
        mine.clear();
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
}

}  // namespace
