// The lines the road's two sides exchange and the .sha256 file a delivery brings, read as the
// service and the user interface read them: a token becomes part of a path, so anything but a
// well-formed one must be turned away. And how the user interface opens the pipe, which decides
// what the pipe's server may do in the user's name.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <optional>
#include <string>

#include "contract/pipe_protocol.h"
#include "contract/road_contract.h"
#include "service/package_hash.h"
#include "support/wine_helpers.h"
#include "ui/update_client.h"

namespace {

TEST(RoadLines, OnlyWellFormedTokensAreTakenFromRequestsAndAnswers) {
  const std::string token = kWellFormedToken;
  const struct {
    std::string token;  // sent after "start ", "staged " and "started ", and named in a pipe's name
    bool taken;
  } cases[] = {
      {token, true},
      {"0F8FAD5B-D9CB-469F-A165-70867728950E", true},
      {"0f8fad5b-d9cb-469f-a165-70867728950", false},    // a digit short
      {"0f8fad5b-d9cb-469f-a165-70867728950e0", false},  // a digit more
      {"0f8fad5b-d9cb-469f-a165-7086772895-e", false},   // a dash in a hex place
      {"0f8fad5bd-9cb-469f-a165-70867728950e", false},   // a digit in a dash place
      {"0f8fad5b-d9cb-469f-a165-70867728950g", false},
      {"..\\..\\..\\Windows\\System32\\cmd.ex", false},
      {"{0f8fad5b-d9cb-469f-a165-70867728950e}", false},
      {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.token);
    const std::wstring wide(c.token.begin(), c.token.end());
    const road::Request request = road::ParseRequest(road::kStartRequest + c.token);
    EXPECT_EQ(request.kind == road::Request::Kind::kStart, c.taken);
    EXPECT_EQ(request.token, c.taken ? wide : L"");
    EXPECT_EQ(road::IsUpdatePipeName(L"\\\\.\\pipe\\CorvantaRemoteUpdate-" + wide), c.taken);
    for (const auto& [prefix, kind] :
         {std::pair{road::kStagedAnswer, road::Answer::Kind::kStaged},
          std::pair{road::kStartedAnswer, road::Answer::Kind::kStarted}}) {
      const road::Answer answer = road::ParseAnswer(prefix + c.token + "\r\n");
      EXPECT_EQ(answer.kind, c.taken ? kind : road::Answer::Kind::kNone) << prefix;
      EXPECT_EQ(answer.token, c.taken ? wide : L"") << prefix;
    }
  }
  EXPECT_EQ(road::ParseRequest(road::kApplyRequest).kind, road::Request::Kind::kApplyPending);
  EXPECT_EQ(road::ParseRequest(std::string(road::kApplyRequest) + " now").kind,
            road::Request::Kind::kUnknown);
  const road::Answer refused = road::ParseAnswer("refused: no pending package\n");
  EXPECT_EQ(refused.kind, road::Answer::Kind::kRefused);
  EXPECT_EQ(refused.text, "no pending package");
  EXPECT_TRUE(road::IsWellFormedToken(road::NewToken()));
}

// The status answer, as the service writes it and the user interface reads it back; a line
// that is not one of its forms reads as nothing.
TEST(RoadLines, TheStatusAnswerReadsBackAsWritten) {
  using Kind = road::UpdateProgress::Kind;
  const struct {
    road::UpdateProgress progress;
    std::string line;
  } rows[] = {
      {{Kind::kUpToDate, 0, 0, "", ""}, "status up-to-date"},
      {{Kind::kChecking, 0, 0, "", ""}, "status checking"},
      {{Kind::kDownloading, 0, 40000000, "", ""}, "status downloading 0 of 40000000"},
      {{Kind::kDownloading, 18446744073709551615u, 18446744073709551615u, "", ""},
       "status downloading 18446744073709551615 of 18446744073709551615"},
      {{Kind::kReady, 0, 0, "2.0.0", ""}, "status ready-to-install 2.0.0"},
      {{Kind::kRefused, 0, 0, "", "the feed has expired"}, "status refused: the feed has expired"},
      {{Kind::kRefused, 0, 0, "", "a\nb\xe9"}, "status refused: a?b?"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(road::StatusAnswerText(row.progress), row.line);
    const std::optional<road::UpdateProgress> read = road::ParseStatusAnswer(row.line + "\r\n");
    ASSERT_TRUE(read.has_value()) << row.line;
    EXPECT_EQ(road::StatusAnswerText(*read), row.line);
  }
  for (const char* line :
       {"status", "status up to date", "status downloading 5 of 4", "status downloading 1 of",
        "status downloading -1 of 4", "status downloading 18446744073709551616 of 1",
        "status ready-to-install ", "staged up-to-date", "refused: no pending package"}) {
    EXPECT_FALSE(road::ParseStatusAnswer(line).has_value()) << line;
  }
  EXPECT_EQ(road::StatusRequestLine(), "status\n");
  EXPECT_EQ(road::CheckRequestLine(), "check-for-update\n");
  EXPECT_EQ(road::ParseRequest("check-for-update").kind, road::Request::Kind::kCheck);
}

TEST(RoadLines, TheHashIsTakenOnlyFromTheStartOfTheFile) {
  const std::string hash(64, 'a');
  const struct {
    std::string text;  // the .sha256 file's contents
    std::string read;  // what the service takes from it
  } cases[] = {
      {hash + "  CorvantaRemote-2.0.0.msi\n", hash},
      {hash, hash},
      {hash + "\r\n", hash},
      {"", ""},
      {hash.substr(1), ""},        // 63 digits
      {hash + "0", ""},            // 65 digits
      {std::string(64, 'A'), ""},  // not the lowercase the file holds
      {"  " + hash, ""},           // not at the start
      {std::string(63, 'a') + "g", ""},
  };
  const std::wstring file = MakeScratchFolder(L"Hashes") + L"\\package.msi.sha256";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::ofstream(Narrow(file), std::ios::binary | std::ios::trunc) << c.text;
    EXPECT_EQ(road::ReadExpectedHash(file), c.read);
  }
  EXPECT_EQ(road::ReadExpectedHash(file + L".missing"), "");
}

// The client opens only a published name that the service could have made: the literal
// prefix and a GUID (each token above), and nothing that leads elsewhere.
TEST(RoadLines, OnlyAPipeNameOfTheServicesShapeIsOpened) {
  const std::wstring guid = L"0f8fad5b-d9cb-469f-a165-70867728950e";
  const std::wstring refused[] = {
      L"\\\\.\\pipe\\CorvantaRemoteUpdate",                 // a fixed name, which anyone can take
      L"\\\\attacker\\pipe\\CorvantaRemoteUpdate-" + guid,  // another machine's pipe
      L"\\\\?\\pipe\\CorvantaRemoteUpdate-" + guid,
      L"\\\\.\\PIPE\\CorvantaRemoteUpdate-" + guid,
      L"C:\\Users\\Public\\CorvantaRemoteUpdate-" + guid,
      L"",
  };
  for (const std::wstring& name : refused)
    EXPECT_FALSE(road::IsUpdatePipeName(name)) << Narrow(name);
  EXPECT_EQ(road::UpdatePipeName(guid), L"\\\\.\\pipe\\CorvantaRemoteUpdate-" + guid);
  EXPECT_EQ(road::UpdatePipeName(L"..\\x"), L"");
  EXPECT_TRUE(road::IsUpdatePipeName(road::UpdatePipeName(road::NewToken())));
}

// Wine grants every server full impersonation whatever the client asked for, so Windows' rule
// is read here from the flags themselves.
TEST(RoadLines, ThePipesServerMayIdentifyTheUserButNeverActAsTheUser) {
  const struct {
    DWORD open_flags;
    SECURITY_IMPERSONATION_LEVEL granted;
  } cases[] = {
      {road::kUpdatePipeOpenFlags, SecurityIdentification},
      {FILE_FLAG_OVERLAPPED, SecurityImpersonation},  // no quality of service stated
      {FILE_FLAG_OVERLAPPED | SECURITY_IDENTIFICATION, SecurityImpersonation},
      {SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, SecurityAnonymous},
      {SECURITY_SQOS_PRESENT | SECURITY_DELEGATION, SecurityDelegation},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(road::ImpersonationGrantedBy(c.open_flags), c.granted) << std::hex << c.open_flags;
  }
}

}  // namespace
