// The pattern engine beside std::regex and PCRE2's interpreter (no JIT), on the
// system's own patterns over realistic, long and hostile lines. A peer that
// crashes, runs past a time limit or gives up on an input is shown as failing.
// It measures speed only; correctness lives in the unit tests.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "pattern/pattern.h"

namespace {

const char* const kAdapter =
    "HBA=(.+),.*PCI ID=(\\w{1,4}),.*VID=(\\w{1,4}),.*SSID=(\\w{1,4}),.*SVID=(\\w{1,4}),.*Firmware=(.+),.*"
    "Boot Code=([\\w\\.]+).*";
const char* const kAdapterLine =
    "HBA=QLE2562,PCI ID=2532,VID=1077,SSID=015D,SVID=103C,Firmware=5.06.01,Boot Code=2.10,Serial=RFE1234";

struct Case {
  std::string name, pattern;
  std::uint64_t flags;
  std::string input;
};

std::string repeatTo(const std::string& head, const std::string& unit, std::size_t size) {
  std::string s = head;
  while (s.size() < size) s += unit;
  return s;
}

std::vector<Case> cases() {
  const std::uint64_t S = hbafw::FLAG_DOT_ALL;
  std::vector<Case> c;
  c.push_back({"adapter/line", kAdapter, S, kAdapterLine});
  c.push_back({"adapter/many_fields", kAdapter, S, repeatTo(kAdapterLine, ",Extra=1", 4096)});
  c.push_back({"adapter/names_1KiB", kAdapter, S, repeatTo("HBA=x", ",PCI ID=", 1024)});
  c.push_back({"adapter/names_64KiB", kAdapter, S, repeatTo("HBA=x", ",PCI ID=", 64 * 1024)});
  for (std::size_t n : {1024u, 64u * 1024, 1024u * 1024}) {
    c.push_back({"adapter/value_" + std::to_string(n), kAdapter, S,
                 "HBA=QLE2562,PCI ID=2532,VID=1077,SSID=015D,SVID=103C,Firmware=" + std::string(n, '5') +
                     ",Boot Code=2.10"});
    c.push_back({"instance/value_" + std::to_string(n), "HBA Instance.*: (.+).*", S,
                 "HBA Instance 0: " + std::string(n, '2')});
  }
  c.push_back({"instance/line", "HBA Instance.*: (.+).*", S, "HBA Instance 0: 2"});
  c.push_back({"flash/line", "Flash Image.*: (.+).*", S, "Flash Image Version : 2.10"});
  c.push_back({"port/line", "Port Name.*: (.+).*", S, "Port Name : 21:00:00:1b:32:8a:3b:5c"});
  c.push_back({"release/rhel5", "Red Hat Enterprise Linux.*release 5.*", S | hbafw::FLAG_MULTILINE,
               "Red Hat Enterprise Linux Server release 5.3 (Tikanga)\n"});
  c.push_back({"release/sles10_miss", "SUSE Linux Enterprise Server 11.*", S | hbafw::FLAG_MULTILINE,
               "SUSE Linux Enterprise Server 10 (x86_64)\nVERSION = 10\nPATCHLEVEL = 2\n"});
  c.push_back({"version/four", ".*(\\d+\\.\\d+\\.\\d+\\.\\d+).*", S, "v 12.3.4.5"});
  c.push_back({"version/three", "(\\d+\\.\\d+\\.\\d+).*", S, "7.2.0.1 build"});
  c.push_back({"version/digits", "\\d+", 0, "0123"});
  return c;
}

void runOurs(benchmark::State& state, const Case& c) {
  auto p = hbafw::Pattern::compile(c.pattern, c.flags);
  auto m = p->newMatcher(c.input);
  for (auto _ : state) {
    benchmark::DoNotOptimize(m->matches());
    if (m->status() != hbafw::MatchStatus::Ok) {
      state.SkipWithError("gave up (defined failure)");
      break;
    }
  }
}

// libstdc++'s std::regex recurses per character and may die or stall; try it
// once in a child process first.
bool stdRegexSurvives(const Case& c) {
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(10);
    std::regex re(c.pattern);
    std::smatch m;
    _exit(std::regex_match(c.input, m, re) ? 0 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void runStd(benchmark::State& state, const Case& c) {
  if (!stdRegexSurvives(c)) {
    for (auto _ : state) break;
    state.SkipWithError("crashed or ran over 10 s");
    return;
  }
  std::regex re(c.pattern);
  std::smatch m;
  for (auto _ : state) benchmark::DoNotOptimize(std::regex_match(c.input, m, re));
}

void runPcre(benchmark::State& state, const Case& c) {
  int err = 0;
  PCRE2_SIZE off = 0;
  const std::uint32_t options = PCRE2_ANCHORED | PCRE2_ENDANCHORED |
                                ((c.flags & hbafw::FLAG_DOT_ALL) ? PCRE2_DOTALL : 0) |
                                ((c.flags & hbafw::FLAG_MULTILINE) ? PCRE2_MULTILINE : 0);
  pcre2_code* re = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c.pattern.c_str()), PCRE2_ZERO_TERMINATED, options,
                                 &err, &off, nullptr);
  pcre2_match_data* md = pcre2_match_data_create_from_pattern(re, nullptr);
  for (auto _ : state) {
    const int rc = pcre2_match(re, reinterpret_cast<PCRE2_SPTR>(c.input.data()), c.input.size(), 0, 0, md, nullptr);
    if (rc < 0 && rc != PCRE2_ERROR_NOMATCH) {
      state.SkipWithError(rc == PCRE2_ERROR_MATCHLIMIT ? "match limit" : "error");
      break;
    }
  }
  pcre2_match_data_free(md);
  pcre2_code_free(re);
}

// Keeps each run's time so that the ratios can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      times_[r.benchmark_name()] = r.error_occurred ? -1.0 : r.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void printRatios(const std::vector<Case>& cs) {
    std::printf("\n%-26s %14s %14s %14s %10s %10s\n", "case", "hbafw", "std::regex", "pcre2", "std/ours", "pcre2/ours");
    for (const auto& c : cs) {
      const double ours = get("hbafw/" + c.name), sr = get("std_regex/" + c.name), pc = get("pcre2/" + c.name);
      auto cell = [](double v) { return v < 0 ? std::string("FAILS") : std::to_string(v / 1000.0).substr(0, 10) + "us"; };
      auto ratio = [ours](double v) { return (v < 0 || ours <= 0) ? std::string("-") : std::to_string(v / ours).substr(0, 7); };
      std::printf("%-26s %14s %14s %14s %10s %10s\n", c.name.c_str(), cell(ours).c_str(), cell(sr).c_str(),
                  cell(pc).c_str(), ratio(sr).c_str(), ratio(pc).c_str());
    }
  }

 private:
  double get(const std::string& n) const {
    auto it = times_.find(n);
    return it == times_.end() ? -1.0 : it->second;
  }
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  const auto cs = cases();
  for (const auto& c : cs) {
    benchmark::RegisterBenchmark(("hbafw/" + c.name).c_str(), runOurs, c);
    benchmark::RegisterBenchmark(("std_regex/" + c.name).c_str(), runStd, c);
    benchmark::RegisterBenchmark(("pcre2/" + c.name).c_str(), runPcre, c);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios(cs);
  benchmark::Shutdown();
  return 0;
}
