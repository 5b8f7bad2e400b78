// The pattern engine beside std::regex, PCRE2 (interpreter and JIT) and RE2
// on the system's own patterns over realistic, long and hostile lines, and
// the wide engine beside std::wregex on the Brocade patterns. A peer that
// crashes, runs past a time limit or gives up on an input is shown as failing.
// It measures speed only; correctness lives in the unit tests.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <re2/re2.h>
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
  bool wide = false;  // pattern and input are ASCII, widened one byte per character
};

// Every peer; a wide case runs only ours and std::wregex.
const char* const kPeers[] = {"hbafw", "std_regex", "pcre2", "pcre2_jit", "re2"};

std::string repeatTo(const std::string& head, const std::string& unit, std::size_t size) {
  std::string s = head;
  while (s.size() < size) s += unit;
  return s;
}

std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

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
  // The Brocade option ROM and kernel release patterns, wide.
  c.push_back({"wide/rom", ".*(\\d+\\.\\d+\\.\\d+\\.\\d+).*", S, "BIOS 3.0.3.2 (x86)", true});
  c.push_back({"wide/rom_no_quad_1KiB", ".*(\\d+\\.\\d+\\.\\d+\\.\\d+).*", S, repeatTo("BIOS ", "10.2.33 ", 1024),
               true});
  c.push_back({"wide/kernel", "(\\d+\\.\\d+\\.\\d+).*", S, "2.6.32-431.el6.x86_64", true});
  c.push_back({"wide/digits", "\\d+", 0, "0123", true});
  return c;
}

void runOurs(benchmark::State& state, const Case& c) {
  auto check = [&state](hbafw::MatchStatus s) {
    if (s == hbafw::MatchStatus::Ok) return true;
    state.SkipWithError("gave up (defined failure)");
    return false;
  };
  if (c.wide) {
    auto p = hbafw::WidePattern::compile(widen(c.pattern), c.flags);
    auto m = p->newMatcher(widen(c.input));
    for (auto _ : state) {
      benchmark::DoNotOptimize(m->matches());
      if (!check(m->status())) break;
    }
    return;
  }
  auto p = hbafw::Pattern::compile(c.pattern, c.flags);
  auto m = p->newMatcher(c.input);
  for (auto _ : state) {
    benchmark::DoNotOptimize(m->matches());
    if (!check(m->status())) break;
  }
}

// libstdc++'s std::regex recurses per character and may die or stall; try it
// once in a child process first.
template <class Regex, class Text>
bool stdRegexSurvives(const std::string& pattern, const Text& input) {
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(10);
    Regex re(typename Regex::string_type(pattern.begin(), pattern.end()));
    std::match_results<typename Text::const_iterator> m;
    _exit(std::regex_match(input, m, re) ? 0 : 0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

template <class Regex, class Text>
void runStdOn(benchmark::State& state, const std::string& pattern, const Text& input) {
  if (!stdRegexSurvives<Regex>(pattern, input)) {
    for (auto _ : state) break;
    state.SkipWithError("crashed or ran over 10 s");
    return;
  }
  Regex re(typename Regex::string_type(pattern.begin(), pattern.end()));
  std::match_results<typename Text::const_iterator> m;
  for (auto _ : state) benchmark::DoNotOptimize(std::regex_match(input, m, re));
}

void runStd(benchmark::State& state, const Case& c) {
  if (c.wide) runStdOn<std::wregex>(state, c.pattern, widen(c.input));
  else runStdOn<std::regex>(state, c.pattern, c.input);
}

void runPcre(benchmark::State& state, const Case& c, bool jit) {
  int err = 0;
  PCRE2_SIZE off = 0;
  const std::uint32_t options = PCRE2_ANCHORED | PCRE2_ENDANCHORED |
                                ((c.flags & hbafw::FLAG_DOT_ALL) ? PCRE2_DOTALL : 0) |
                                ((c.flags & hbafw::FLAG_MULTILINE) ? PCRE2_MULTILINE : 0);
  pcre2_code* re = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c.pattern.c_str()), PCRE2_ZERO_TERMINATED, options,
                                 &err, &off, nullptr);
  if (jit && pcre2_jit_compile(re, PCRE2_JIT_COMPLETE) != 0) {
    for (auto _ : state) break;
    state.SkipWithError("no JIT on this machine");
    pcre2_code_free(re);
    return;
  }
  pcre2_match_data* md = pcre2_match_data_create_from_pattern(re, nullptr);
  // The JIT keeps its own stack: give it room for the long lines.
  pcre2_match_context* mc = pcre2_match_context_create(nullptr);
  pcre2_jit_stack* stack = jit ? pcre2_jit_stack_create(32 * 1024, 64 * 1024 * 1024, nullptr) : nullptr;
  if (stack != nullptr) pcre2_jit_stack_assign(mc, nullptr, stack);
  for (auto _ : state) {
    const int rc = pcre2_match(re, reinterpret_cast<PCRE2_SPTR>(c.input.data()), c.input.size(), 0, 0, md, mc);
    if (rc < 0 && rc != PCRE2_ERROR_NOMATCH) {
      state.SkipWithError(rc == PCRE2_ERROR_MATCHLIMIT ? "match limit" : "error");
      break;
    }
  }
  if (stack != nullptr) pcre2_jit_stack_free(stack);
  pcre2_match_context_free(mc);
  pcre2_match_data_free(md);
  pcre2_code_free(re);
}

void runRe2(benchmark::State& state, const Case& c) {
  std::string prefix;
  if (c.flags & hbafw::FLAG_DOT_ALL) prefix += "(?s)";
  if (c.flags & hbafw::FLAG_MULTILINE) prefix += "(?m)";
  const RE2 re(prefix + c.pattern, RE2::Quiet);
  if (!re.ok()) {
    for (auto _ : state) break;
    state.SkipWithError("does not compile");
    return;
  }
  // Whole match with every group, as ours and PCRE2 give.
  std::vector<re2::StringPiece> groups(static_cast<std::size_t>(re.NumberOfCapturingGroups()) + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(re.Match(c.input, 0, c.input.size(), RE2::ANCHOR_BOTH, groups.data(),
                                      static_cast<int>(groups.size())));
  }
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
  // Times in microseconds, then each peer's time over ours (above 1: ours is faster).
  void printRatios(const std::vector<Case>& cs) {
    std::printf("\n%-24s", "case");
    for (const char* peer : kPeers) std::printf(" %12s", peer);
    for (std::size_t i = 1; i < std::size(kPeers); ++i) std::printf(" %12s", (std::string(kPeers[i]) + "/ours").c_str());
    std::printf("\n");
    for (const auto& c : cs) {
      const double ours = get(std::string(kPeers[0]) + "/" + c.name);
      std::printf("%-24s", c.name.c_str());
      for (const char* peer : kPeers) {
        const double t = get(std::string(peer) + "/" + c.name);
        if (t == kAbsent) std::printf(" %12s", "-");
        else if (t < 0) std::printf(" %12s", "FAILS");
        else std::printf(" %12.3f", t / 1000.0);
      }
      for (std::size_t i = 1; i < std::size(kPeers); ++i) {
        const double t = get(std::string(kPeers[i]) + "/" + c.name);
        if (t < 0 || ours <= 0) std::printf(" %12s", "-");
        else std::printf(" %12.2f", t / ours);
      }
      std::printf("\n");
    }
  }

 private:
  static constexpr double kAbsent = -2.0;
  double get(const std::string& n) const {
    auto it = times_.find(n);
    return it == times_.end() ? kAbsent : it->second;
  }
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  const auto cs = cases();
  for (const auto& c : cs) {
    benchmark::RegisterBenchmark(("hbafw/" + c.name).c_str(), runOurs, c);
    benchmark::RegisterBenchmark(("std_regex/" + c.name).c_str(), runStd, c);
    if (c.wide) continue;
    benchmark::RegisterBenchmark(("pcre2/" + c.name).c_str(), runPcre, c, false);
    benchmark::RegisterBenchmark(("pcre2_jit/" + c.name).c_str(), runPcre, c, true);
    benchmark::RegisterBenchmark(("re2/" + c.name).c_str(), runRe2, c);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios(cs);
  benchmark::Shutdown();
  return 0;
}
