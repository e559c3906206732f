// CorvaneSession.h over the real gateway: what each handle's owner opens, cancels and closes.
// The session's server is a closed port on loopback: a call that is sent fails to connect at
// once, a cancelled one ends with ZENTA_E_CANCELLED, a closed handle is unknown.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "Corvane.h"
#include "CorvaneSession.h"

namespace Corvane {
namespace {

constexpr char kClosedPort[] = "http://127.0.0.1:9";

int Call(int handle) {
  int playbackTime = 0;
  return API_GetPosConfig(handle, playbackTime);
}

TEST(Session, ScopesCancelDownwardAndCloseWithTheirOwner) {
  Session session(kClosedPort);
  Scope view(session);
  Scope panel = view.Child();
  Scope other(session.Handle());
  view.Cancel();
  EXPECT_EQ(Call(view.Handle()), ZENTA_E_CANCELLED);
  EXPECT_EQ(Call(panel.Handle()), ZENTA_E_CANCELLED);
  EXPECT_EQ(Call(other.Handle()), ZENTA_E_CONNECT);  // the parent and its other scopes go on
  EXPECT_EQ(Call(session.Handle()), ZENTA_E_CONNECT);

  int closed = 0;
  {
    Scope moved(session);
    closed = moved.Handle();
    Scope owner(std::move(moved));
    EXPECT_EQ(moved.Handle(), 0);
    EXPECT_EQ(owner.Handle(), closed);
    EXPECT_EQ(Call(closed), ZENTA_E_CONNECT);
  }
  EXPECT_EQ(Call(closed), ZENTA_E_UNKNOWN_HANDLE);

  const int replaced = other.Handle();
  other = std::move(panel);  // closes the scope other held
  EXPECT_EQ(Call(replaced), ZENTA_E_UNKNOWN_HANDLE);
  EXPECT_EQ(Call(other.Handle()), ZENTA_E_CANCELLED);

  session.Cancel();
  EXPECT_EQ(Call(session.Handle()), ZENTA_E_CANCELLED);
}

TEST(Session, FailuresThrowTheGatewaysCode) {
  const std::pair<std::function<void()>, int> rows[] = {
      {[] { Session("ftp://127.0.0.1:9"); }, ZENTA_E_UNSUPPORTED_SCHEME},
      {[] { Scope(-5); }, ZENTA_E_UNKNOWN_HANDLE},
  };
  for (const auto& [open, code] : rows) {
    try {
      open();
      ADD_FAILURE() << "no exception for " << code;
    } catch (const SessionError& e) {
      EXPECT_EQ(e.Code(), code);
      EXPECT_NE(std::string(e.what()).find("(status " + std::to_string(code) + ")"),
                std::string::npos);
    }
  }
  int handle = 0;
  {
    Session closing(kClosedPort);
    handle = closing.Handle();
  }
  EXPECT_EQ(Call(handle), ZENTA_E_UNKNOWN_HANDLE);
}

}  // namespace
}  // namespace Corvane
