// The service's answers to requests from a client whose session is known, another one, or
// unknown: a failed session query must refuse the request, never pass for session 0.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "service/service_log.h"
#include "service/update_requests.h"

namespace {

constexpr char kToken[] = "0f8fad5b-d9cb-469f-a165-70867728950e";

TEST(RoadRequests, OnlyAClientOfTheStagingSessionMayStartTheUpdate) {
  const road::ClientSession unknown{false, 0};
  const road::ClientSession session_1{true, 1};
  const struct {
    const char* request;
    road::ClientSession client;
    road::ClientSession staged_for;
    const char* answer;
  } cases[] = {
      {"apply-pending-update", unknown, session_1, "refused: the client's session cannot be read"},
      // A failed query leaves 0, the session of services: it must not match one.
      {"start ", unknown, road::ClientSession{true, 0},
       "refused: the client's session cannot be read"},
      {"start ", road::ClientSession{true, 2}, session_1, "refused: no update staged as "},
      // The session matches: what stops it is the staged copy, which this test has not made
      // (its size cannot be read, so the check before the start refuses).
      {"start ", session_1, session_1,
       "refused: the free space on the system drive could not be checked"},
  };
  const road::ServiceLog log(/*folders_trusted=*/true);
  for (const auto& c : cases) {
    const std::string line = c.request + std::string(c.request[0] == 's' ? kToken : "");
    SCOPED_TRACE(line);
    road::UpdateState state;
    state.staged_token = std::wstring(kToken, kToken + sizeof(kToken) - 1);
    state.staged_package = L"CorvantaRemote-2.0.0.msi";
    state.staged_for = c.staged_for;
    const std::string answer =
        road::AnswerRequest(line, /*well_formed=*/true, c.client, state, log);
    EXPECT_EQ(answer.substr(0, std::string(c.answer).size()), c.answer);
  }
}

}  // namespace
