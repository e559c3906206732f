// The identifiers the demo runs on: taken from the simulated platform's seeded state, so that
// every operation addresses something that exists there.
#ifndef CORVANE_CLI_DEMOIDS_H
#define CORVANE_CLI_DEMOIDS_H

#include <cstdint>
#include <string>

namespace corvane_cli {

struct DemoIds {
  std::string device;
  std::string channel;  // a camera channel
  std::string picture;
  std::string speakerChannel;       // an online IP-speaker channel
  std::string otherSpeakerChannel;  // a second IP-speaker channel
  std::string alarmCode;
  long long alarmDate = 0;
  std::string ptzChannel;
  int dictionaryType = 0;
};

// The identifiers of the platform that the simulated server builds from seed (its default seed
// is 1). Throws std::runtime_error when that platform lacks something the demo needs.
DemoIds DemoIdsForSeed(std::uint64_t seed);

}  // namespace corvane_cli

#endif  // CORVANE_CLI_DEMOIDS_H
