#include "ui/update_client.h"

#include "contract/pipe_protocol.h"
#include "contract/road_contract.h"
#include "shared/unique_handles.h"
#include "ui/service_status.h"
#include "win/machine_registry.h"
#include "win/pipe_io.h"

namespace road {

namespace {

// Milliseconds until a deadline on the GetTickCount64 clock; 0 once it has passed.
class TimeLeft {
 public:
  explicit TimeLeft(DWORD timeout_ms) noexcept : deadline_(::GetTickCount64() + timeout_ms) {}
  [[nodiscard]] DWORD operator()() const noexcept {
    const ULONGLONG now = ::GetTickCount64();
    return now >= deadline_ ? DWORD{0} : static_cast<DWORD>(deadline_ - now);
  }

 private:
  ULONGLONG deadline_;
};

// The published name of the pipe, when it is of the service's shape; else empty, with the "no
// answer" text in `failure`.
std::wstring PipeNameToOpen(std::string& failure) {
  std::wstring name = PublishedUpdatePipeName();
  if (IsUpdatePipeName(name)) return name;
  failure = std::string(kNoAnswer) + (name.empty() ? "the update service has published no pipe"
                                                   : "the published pipe name is not the "
                                                     "update service's");
  return L"";
}

// Opens the client end of the pipe `name`, waiting while its one instance serves another
// client; on failure, empty with the "no answer" text in `failure`.
UniqueHandle OpenPipe(const std::wstring& name, const TimeLeft& time_left, std::string& failure) {
  for (;;) {
    UniqueHandle pipe = OwnHandle(::CreateFileW(name.c_str(), kUpdatePipeAccess,
                                                /*share=*/0, /*security=*/nullptr, OPEN_EXISTING,
                                                kUpdatePipeOpenFlags, /*template_file=*/nullptr));
    const DWORD error = ::GetLastError();
    if (pipe) return pipe;
    if (error != ERROR_PIPE_BUSY) {
      failure = std::string(kNoAnswer) + "the update service cannot be reached (error " +
                std::to_string(error) + ")";
      return nullptr;
    }
    // Read once: a wait of 0 would be NMPWAIT_USE_DEFAULT_WAIT, the time-out that whoever
    // created the pipe chose, and a squatter may choose a long one.
    const DWORD left = time_left();
    if (left == 0) {
      failure = std::string(kNoAnswer) + "the update service is busy";
      return nullptr;
    }
    (void)::WaitNamedPipeW(name.c_str(), left < 100 ? left : 100);
  }
}

// Empty when the pipe's server is the running service's own process, else why not.
std::string ServerCheckFailure(HANDLE pipe) {
  ULONG server = 0;
  const SERVICE_STATUS_PROCESS status = ServiceStatus();
  const DWORD service = status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0;
  if (::GetNamedPipeServerProcessId(pipe, &server) && service != 0 && server == service) {
    return "";
  }
  return std::string(kNoAnswer) + "the pipe is not served by the update service (server pid " +
         std::to_string(server) + ", service pid " + std::to_string(service) + ")";
}

// Reads up to the first line end; the answer with its end, or kNoAnswer and why.
std::string ReadAnswer(HANDLE pipe, HANDLE io_event, const TimeLeft& time_left) {
  std::string answer;
  char chunk[128];
  while (answer.find('\n') == std::string::npos && answer.size() < 1024) {
    DWORD read = 0;
    if (!ReadPipe(pipe, io_event, /*stop=*/nullptr, time_left(), chunk, sizeof(chunk), read) ||
        read == 0) {
      if (time_left() == 0) {
        return std::string(kNoAnswer) + "the update service did not answer in time";
      }
      break;
    }
    answer.append(chunk, read);
  }
  const size_t end = answer.find('\n');
  return end == std::string::npos ? std::string(kNoAnswer) + "the service closed the channel"
                                  : answer.substr(0, end + 1);
}

}  // namespace

std::wstring PublishedUpdatePipeName() {
  return ReadMachineString(kRoadKeyPath, kUpdatePipeValueName);
}

std::string ExchangeWithService(const std::string& request, DWORD timeout_ms) {
  const TimeLeft time_left(timeout_ms);
  std::string failure;
  const std::wstring name = PipeNameToOpen(failure);
  if (name.empty()) return failure;
  const UniqueHandle pipe = OpenPipe(name, time_left, failure);
  if (!pipe) return failure;
  failure = ServerCheckFailure(pipe.get());
  if (!failure.empty()) return failure;
  const UniqueHandle io_event = OwnHandle(::CreateEventW(
      /*security=*/nullptr, /*manual_reset=*/TRUE, /*initial=*/FALSE, /*name=*/nullptr));
  if (!io_event) return std::string(kNoAnswer) + "no event to wait on";
  if (!WritePipe(pipe.get(), io_event.get(), /*stop=*/nullptr, time_left(), request)) {
    return std::string(kNoAnswer) + "the request could not be sent (error " +
           std::to_string(::GetLastError()) + ")";
  }
  return ReadAnswer(pipe.get(), io_event.get(), time_left);
}

std::string QueryUpdateProgress(DWORD timeout_ms) {
  return ExchangeWithService(StatusRequestLine(), timeout_ms);
}

std::string RequestUpdateCheck(DWORD timeout_ms) {
  return ExchangeWithService(CheckRequestLine(), timeout_ms);
}

}  // namespace road
