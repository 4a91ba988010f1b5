// The tools' command lines: every tool explains itself with --help (on
// standard output, exit 0, no display needed) and refuses a wrong command
// line with its usage-error exit status and a message on standard error.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct ToolRun {
  int status = -1;
  std::string out, err;
};

// Runs `program` with `args` (already quoted for the shell) and without a
// display.
ToolRun RunTool(const std::string& program, const std::string& args) {
  const std::string errFile =
      (std::filesystem::temp_directory_path() / ("tools_cli_" + std::to_string(getpid()) + ".err")).string();
  const std::string command = "env -u DISPLAY '" + program + "' " + args + " 2>'" + errFile + "'";
  ToolRun r;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(errFile);
  r.err.assign(std::istreambuf_iterator<char>(in), {});
  std::filesystem::remove(errFile);
  return r;
}

struct ToolCase {
  const char* program;
  std::string args;
  int status;
  // Texts that must appear: on standard output for exit 0, else on
  // standard error.
  std::vector<std::string> shows;
};

std::vector<ToolCase> Cases() {
  std::vector<ToolCase> cases = {
      {TABLE_TOOL, "--help", 0, {"Usage: table_tool", "init", "dump", "check"}},
      {TABLE_TOOL, "dump --help", 0, {"--json", "FILE"}},
      {TABLE_TOOL, "", 2, {"subcommand"}},
      {TABLE_TOOL, "dump table.edb", 2, {"--json"}},
      {TABLE_TOOL, "init", 2, {"DIR"}},
      {TABLE_TOOL, "check a.edb b.edb", 2, {"b.edb"}},
  };
#ifdef MARKET_SIM
  cases.insert(cases.end(), {
                                {MARKET_SIM,
                                 "--help",
                                 0,
                                 {"Usage: autodeliver-market-sim", "--port N", "--account NICK:PASSWORD",
                                  "--state FILE", "--page-size N", "--order-base N", "--verbose"}},
                                {MARKET_SIM, "-h", 0, {"--port N"}},
                                {MARKET_SIM, "--port 70000", 2, {"--port"}},
                                {MARKET_SIM, "--port -1", 2, {"--port"}},
                                {MARKET_SIM, "--port", 2, {"--port"}},
                                {MARKET_SIM, "--page-size 0", 2, {"--page-size"}},
                                {MARKET_SIM, "--order-base 12x", 2, {"--order-base"}},
                                {MARKET_SIM, "--account nocolon", 2, {"no ':'"}},
                                {MARKET_SIM, "--bogus", 2, {"--bogus"}},
                            });
#endif
#ifdef IM_SIM
  cases.insert(cases.end(),
               {
                   {IM_SIM,
                    "--help",
                    0,
                    {"Usage: autodeliver-im-sim", "aliim:sendmsg?uid=cntaobao", "--transcript FILE",
                     "--login NICK", "--title TEMPLATE", "--no-window", "--quit", "--install"}},
                   {IM_SIM, "--bogus", 1, {"--bogus"}},
                   {IM_SIM, "--transcript", 1, {"--transcript"}},
               });
#endif
#ifdef NOTIFY_SIM
  cases.insert(cases.end(), {
                                {NOTIFY_SIM, "--help", 0, {"Usage: autodeliver-notify-sim", "--markup"}},
                                {NOTIFY_SIM, "--bogus", 2, {"--bogus"}},
                            });
#endif
#ifdef DEMO
  cases.insert(
      cases.end(),
      {
          {DEMO,
           "--help",
           0,
           {"Usage: autodeliver-demo", "--transcript <FILE>", "--screenshots <DIR>", "--market <HOST:PORT>"}},
          {DEMO, "", 2, {"--transcript"}},
          {DEMO, "--transcript", 2, {"--transcript"}},
          {DEMO, "--transcript t.jsonl extra", 2, {"extra"}},
          {DEMO, "--bogus", 2, {"bogus"}},
      });
#endif
  return cases;
}

TEST(ToolCommandLines, HelpAndUsageErrors) {
  for (const ToolCase& c : Cases()) {
    SCOPED_TRACE(std::string(c.program) + " " + c.args);
    const ToolRun r = RunTool(c.program, c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    const std::string& shown = c.status == 0 ? r.out : r.err;
    for (const std::string& text : c.shows) EXPECT_NE(shown.find(text), std::string::npos) << text;
    if (c.status == 0) {
      EXPECT_EQ(r.err, "");
    }
  }
}

}  // namespace
