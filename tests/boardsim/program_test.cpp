// The lumivex-boardsim program as a user runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <regex>

#include "tests/boardsim/client.h"
#include "tests/support/fallback_ports.h"
#include "tests/support/users.h"

extern char** environ;

namespace lumivex::boardsim {
namespace {

using namespace std::chrono_literals;

struct Spawned {
  pid_t pid = -1;
  int out = -1;  // the program's standard output
  int err = -1;
};

Spawned Spawn(std::vector<std::string> args) {
  args.insert(args.begin(), LUMIVEX_BOARDSIM_PROGRAM);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  Spawned s;
  if (posix_spawn(&s.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) s.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  s.out = outPipe[0];
  s.err = errPipe[0];
  return s;
}

std::string ReadLine(int fd, std::chrono::milliseconds timeout) {
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char c;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    if (read(fd, &c, 1) != 1 || c == '\n') break;
    line += c;
  }
  return line;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  return text;
}

int WaitExit(pid_t pid) {
  int status = 0;
  for (int i = 0; i < 500; ++i) {  // up to 5 s
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(10ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -2;
}

TEST(ProgramTest, SaysWhereItIsAnswersAndRemovesItsLinkOnSignals) {
  for (int stopSignal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(stopSignal);
    testing::PrivateRuntimeDir runtime;
    Spawned p = Spawn({"--com", "12", "--no-pace"});
    ASSERT_GT(p.pid, 0);
    std::string line = ReadLine(p.out, 5s);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        line, m, std::regex("lumivex-boardsim: COM12 -> (/dev/pts/[0-9]+) at 115200 baud")))
        << line;
    std::string link = runtime.path() + "/lumivex/ports/COM12";
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), m[1].str());

    testing::Client client;
    ASSERT_TRUE(client.Open(link, B115200));
    EXPECT_EQ(client.Exchange({0xE0, 0x05, 0x41, 0x18, 0x01}, 3),
              (testing::Bytes{0x41, 0x63, 0x6B}));
    client.Close();

    kill(p.pid, stopSignal);
    EXPECT_EQ(WaitExit(p.pid), 0);
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0);
    close(p.out);
    close(p.err);
  }
}

TEST(ProgramTest, TracesFramesAndEndsWhenItHangsUp) {
  testing::PrivateRuntimeDir runtime;
  Spawned p = Spawn({"--no-pace", "--trace", "--hangup-after", "1"});
  ASSERT_GT(p.pid, 0);
  std::string line = ReadLine(p.out, 5s);
  ASSERT_NE(line.find("COM1 ->"), std::string::npos) << line;
  testing::Client client;
  ASSERT_TRUE(client.Open(runtime.path() + "/lumivex/ports/COM1", B115200));
  client.Exchange({0xE0, 0x05, 0x44, 0x17, 0xC0}, 6);
  EXPECT_EQ(WaitExit(p.pid), 0);
  std::string err = ReadAll(p.err);
  EXPECT_TRUE(std::regex_search(err, std::regex("[0-9]+ ms recv E0 05 44 17 C0"))) << err;
  EXPECT_TRUE(std::regex_search(err, std::regex("[0-9]+ ms send E0 0B 00 01 00 14"))) << err;
  close(p.out);
  close(p.err);
}

// Without XDG_RUNTIME_DIR the ports folder is in /tmp, where another user may have made it.
TEST(ProgramTest, RefusesToRegisterInAFolderOfAnotherUser) {
  using lumivex::testing::FallbackPortsFolder;
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the folder to another user";
  FallbackPortsFolder folder;
  ASSERT_TRUE(
      folder.Make(FallbackPortsFolder::kOtherUser, 0777, FallbackPortsFolder::kOtherUser, 0777));
  const auto [code, said] = lumivex::testing::RunAsUserCapturingErrors(
      FallbackPortsFolder::kUser, FallbackPortsFolder::kUser, [&] {
        unsetenv("XDG_RUNTIME_DIR");
        alarm(10);  // a board that registered anyway would answer until stopped
        execl(LUMIVEX_BOARDSIM_PROGRAM, "lumivex-boardsim", static_cast<char*>(nullptr));
        return 127;
      });
  EXPECT_EQ(code, 1) << said;
  EXPECT_NE(said.find("will not register in " + folder.Ports()), std::string::npos) << said;
  EXPECT_NE(said.find("belongs to user 54322"), std::string::npos) << said;
  EXPECT_TRUE(std::filesystem::is_empty(folder.Ports()));
}

TEST(ProgramTest, BadOptionsExitWithUsage) {
  for (std::vector<std::string> args :
       {std::vector<std::string>{"--baud", "300"}, std::vector<std::string>{"--nonsense"}}) {
    Spawned p = Spawn(args);
    ASSERT_GT(p.pid, 0);
    EXPECT_EQ(WaitExit(p.pid), 2);
    std::string err = ReadAll(p.err);
    EXPECT_NE(err.find(args[0]), std::string::npos) << err;
    EXPECT_NE(err.find("usage: lumivex-boardsim"), std::string::npos) << err;
    close(p.out);
    close(p.err);
  }
}

}  // namespace
}  // namespace lumivex::boardsim
