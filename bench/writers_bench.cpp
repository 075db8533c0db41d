// Several processes writing new messages to one device root at once, beside
// one process writing alone: 100 new messages into the phone DRAFT folder of a
// fresh root (the folder's limit, so that nothing is evicted), written by one
// process or shared out among 2 or 4 processes started together (the first
// message, untimed, makes the index). Each
// message takes the store's counter, file and index mutexes, which the
// writers contend for. items_per_second is the throughput of all writers
// together; the 4 writers' over the lone writer's is the figure asked for.
//
//     writers_bench --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
//         --benchmark_report_aggregates_only=true
//
// The root lives under $TMPDIR (or /tmp), on disk; --benchmark_filter picks
// the store.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "draft_message.h"
#include "msgstore/msgstore.h"

namespace {

constexpr int kMessages = 100;

using bench::kEmail;
using bench::kMms;
using bench::kSms;
using bench::Store;
using bench::WriteDraft;

void BM_Writers(benchmark::State& state, Store store) {
  const int writers = static_cast<int>(state.range(0));
  const char* tmp = std::getenv("TMPDIR");
  const std::filesystem::path root = std::filesystem::path(tmp != nullptr ? tmp : "/tmp") /
                                     ("msgstore-writers-" + std::to_string(getpid()));
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    msgstore::SetDeviceRoot(root.string());
    EMSMsgStore_CreateDir(false);
    MMSMsgStore_CreateDir(false);
    EmailMsgStore_CreateDir(false);
    WriteDraft(store, 0);  // the folder's index and the mutexes are there before the clock starts
    state.ResumeTiming();
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
      const pid_t pid = fork();
      if (pid == 0) {
        int failed = 0;
        for (int i = w; i < kMessages - 1; i += writers) failed += WriteDraft(store, i + 1) == 0;
        _exit(failed == 0 ? 0 : 1);
      }
      if (pid < 0) {
        state.SkipWithError("could not start a writer");
        break;
      }
      children.push_back(pid);
    }
    for (pid_t pid : children) {
      int status = 0;
      waitpid(pid, &status, 0);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("a writer failed");
    }
  }
  std::filesystem::remove_all(root);
  state.SetItemsProcessed(state.iterations() * (kMessages - 1));
}

BENCHMARK_CAPTURE(BM_Writers, sms, kSms)->Arg(1)->Arg(2)->Arg(4)->UseRealTime();
BENCHMARK_CAPTURE(BM_Writers, mms, kMms)->Arg(1)->Arg(2)->Arg(4)->UseRealTime();
BENCHMARK_CAPTURE(BM_Writers, email, kEmail)->Arg(1)->Arg(2)->Arg(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
