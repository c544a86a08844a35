// veltris-cli: the command-line client of the VELTRIS agent, for people and scripts.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "common/records.h"
#include "tools/veltris_cli/access_key.h"
#include "tools/veltris_cli/agent_session.h"
#include "tools/veltris_cli/options.h"
#include "tools/veltris_cli/pcap_export.h"
#include "tools/veltris_cli/reply_printer.h"
#include "tools/veltris_cli/request_words.h"
#include "tools/veltris_cli/terminal_text.h"
#include "tools/veltris_cli/text_fields.h"

namespace {

using namespace veltris::cli;
using Clock = std::chrono::steady_clock;

constexpr char kProgram[] = "veltris-cli";
constexpr auto kInterruptGrace = std::chrono::milliseconds(500);
std::atomic<int> interrupted{0};  // the signal that ends the run

// Ctrl-C and SIGTERM end the program within a second whatever it waits on (a
// silent agent, a pipe): a thread takes the signal, the loop stops at its next
// look, and the process ends with 128 + the signal when the loop has not by then.
// Called before any other thread starts, so that every thread blocks them.
void watchInterrupts() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals] {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) return;
    interrupted = signal;
    std::this_thread::sleep_for(kInterruptGrace);
    std::fflush(stdout);  // stdio locks; what the replies printed is kept
    std::_Exit(128 + signal);
  }).detach();
}

int interruptedStatus() { return 128 + interrupted.load(); }

// Replies shown on a terminal cannot drive it: control characters appear as \xNN.
struct TerminalGuard {
  TerminalGuard(std::ostream& stream, int fd, bool raw) : stream_(stream) {
    if (raw || ::isatty(fd) != 1) return;
    buffer_ = std::make_unique<TerminalSafeBuffer>(stream.rdbuf());
    previous_ = stream.rdbuf(buffer_.get());
  }
  ~TerminalGuard() {
    if (!buffer_) return;
    stream_.flush();
    stream_.rdbuf(previous_);
  }
  std::ostream& stream_;
  std::unique_ptr<TerminalSafeBuffer> buffer_;
  std::streambuf* previous_ = nullptr;
};

int fail(int exitCode, const std::string& message) {
  std::cerr << kProgram << ": " << message << '\n';
  return exitCode;
}

// Sleeps until `until`, waking early when Ctrl-C arrives.
void waitUntil(Clock::time_point until) {
  while (!interrupted && Clock::now() < until) {
    std::this_thread::sleep_for(std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(50)));
  }
}

// "SNAPSHOT PATH" that the agent refused or could not write: its answer is a
// text reply starting "ERROR - " instead of the snapshot's totals.
bool snapshotNotWritten(const std::string& request, const Reply& reply) {
  if (request.rfind("SNAPSHOT ", 0) != 0 || reply.records.size() != 1) return false;
  const auto* text = std::get_if<std::shared_ptr<const veltris::TextReply>>(&reply.records.front());
  return text != nullptr && std::strncmp((*text)->text, "ERROR - ", 8) == 0;
}

int runRequests(const Options& options, const std::string& request, AgentSession& session) {
  // Repeated JSON replies go one per line, so a reader can take them as they come.
  const OutputFormat format = !options.json          ? OutputFormat::Table
                              : options.repeat != 1 ? OutputFormat::JsonLines
                                                    : OutputFormat::Json;
  uint32_t sequence = sequenceNumberOf(request);
  Clock::time_point next = Clock::now();
  for (uint32_t done = 0; !interrupted && (options.repeat == 0 || done < options.repeat); ++done) {
    if (done > 0) waitUntil(next);
    if (interrupted) break;
    next += options.interval;
    const std::string text = options.follow ? withSequenceNumber(request, sequence) : request;
    Reply reply;
    SessionError error;
    if (!session.exchange(text, reply, error)) return interrupted ? interruptedStatus() : fail(error.exitCode, error.message);
    printReply(text, reply, format, std::cout, static_cast<int64_t>(std::time(nullptr)));
    std::cout.flush();
    if (!options.saveFile.empty() && !session.saveSnapshot(options.saveFile, error)) {
      return fail(error.exitCode, error.message);
    }
    if (snapshotNotWritten(text, reply)) return kExitFailed;
    replySequence(reply, sequence);
  }
  return interrupted ? interruptedStatus() : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  watchInterrupts();
  if (argc > 1 && std::string(argv[1]) == "export-pcap") {
    TerminalGuard errors(std::cerr, STDERR_FILENO, false);
    const int status = runExportPcap(std::vector<std::string>(argv + 2, argv + argc), std::cout, std::cerr);
    return interrupted ? interruptedStatus() : status;
  }
  ParsedCommandLine parsed = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.action == ParsedCommandLine::Action::Help) {
    std::cout << usageText(kProgram);
    return kExitOk;
  }
  if (parsed.action == ParsedCommandLine::Action::Version) {
    std::cout << kProgram << " (VELTRIS command-line client) version " << veltris::kVersionStamp << '\n';
    return kExitOk;
  }
  if (parsed.action == ParsedCommandLine::Action::Error) {
    return fail(kExitUsage, parsed.error + " (" + kProgram + " --help shows the usage)");
  }
  const Options& options = parsed.options;
  useHumanByteUnits(options.humanUnits);
  RequestCheck check = checkRequest(options.request, options.follow);
  if (!check.error.empty()) return fail(kExitUsage, check.error);
  if (!check.note.empty()) std::cerr << kProgram << ": note: " << check.note << '\n';

  std::string computer = options.computer;
  std::string key;
  std::string keyError;
  if (!options.snapshotFile.empty()) {  // a snapshot takes any key
    if (!computer.empty()) return fail(kExitUsage, "--computer and --snapshot exclude each other");
    computer = kSnapshotComputerPrefix + options.snapshotFile;
  } else if (options.key) {
    key = *options.key;
  } else if (!accessKeyFromRegistry(key, keyError)) {
    return fail(kExitUsage, keyError);
  }

  TerminalGuard replies(std::cout, STDOUT_FILENO, options.raw);
  TerminalGuard errors(std::cerr, STDERR_FILENO, options.raw);
  AgentSession session;
  SessionError error;
  if (!session.open(computer, key, error)) return interrupted ? interruptedStatus() : fail(error.exitCode, error.message);
  const int status = runRequests(options, check.request, session);
  // The agent answers a word it does not know as if it were "TOTAL": say it did not serve it.
  return status == kExitOk && check.unknownWord ? kExitUnknownWord : status;
}
