// Lists the PTZ trails of a camera channel: ptz-trails SERVER-URL CHANNEL
#include <Corvane.h>
#include <zenta/ZentaSdk.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SERVER-URL CHANNEL\n", argv[0]);
    return 2;
  }
  int handle = 0;
  int status = ZENTA_OpenSession(argv[1], nullptr, &handle);  // default options
  if (status != ZENTA_OK) {
    std::fprintf(stderr, "cannot open a session: %s\n", Corvane::ErrorMessage(status).c_str());
    return 1;
  }
  Corvane::SetLangauage("en-US");  // sent with every request from now on
  Corvane::SetTimeZone("UTC");

  std::vector<Corvane::PtzTrailInfo> trails;
  status = Corvane::API_GetPtzTrailList(argv[2], handle, trails);
  for (const Corvane::PtzTrailInfo& trail : trails) {
    std::printf("%s\t%s\n", trail.trailId.c_str(), trail.trailName.c_str());
  }
  if (status != 0) {
    // The whole error in one sentence: what the status means, with the transport's or the
    // server's own words ("the server refused the request with code 4004: no channel ...").
    std::fprintf(stderr, "ptz-trails: %s\n", Corvane::ErrorMessage(status).c_str());
  }
  ZENTA_CloseSession(handle);
  return status == 0 ? 0 : 1;
}
