// Running a piece of a test as another user, so that permission checks bite even when the
// tests run as root.
#pragma once

#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace lumivex::testing {

// Runs body in a child process as uid:gid, without supplementary groups (root's would still
// let the child write what group root may), and returns body's exit code; -1 when the child
// could not become that user (the tests do not run as root). A process that already is that
// user runs body as it is.
inline int RunAsUser(uid_t uid, gid_t gid, const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() != uid && (::geteuid() != 0 || ::setgroups(0, nullptr) != 0 ||
                               ::setgid(gid) != 0 || ::setuid(uid) != 0)) {
      ::_exit(200);
    }
    ::_exit(body());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status) == 200 ? -1 : WEXITSTATUS(status);
}

struct UserRun {
  int code = -1;     // as RunAsUser gives it
  std::string said;  // what the child wrote to standard error (its first 4 KiB)
};

// RunAsUser, keeping what the child says on standard error.
inline UserRun RunAsUserCapturingErrors(uid_t uid, gid_t gid, const std::function<int()>& body) {
  UserRun run;
  int err[2];
  if (::pipe(err) != 0) return run;
  run.code = RunAsUser(uid, gid, [&] {
    ::dup2(err[1], STDERR_FILENO);
    return body();
  });
  ::close(err[1]);
  char text[4096];
  ssize_t got = ::read(err[0], text, sizeof text);
  ::close(err[0]);
  if (got > 0) run.said.assign(text, static_cast<std::size_t>(got));
  return run;
}

}  // namespace lumivex::testing
