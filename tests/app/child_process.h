// A child process for the tests: its standard input and output are pipes of ours, and it
// runs in an environment of our choosing.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace q9m::test {

class ChildProcess {
 public:
  // Starts `program` with `arguments`, with the current environment plus `environment`
  // ("NAME=value" entries, overriding).
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment);
  ~ChildProcess();  // kills the child if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // The next line of its output, without the newline; empty at end of output or after
  // `timeoutMs`.
  std::string ReadLine(int timeoutMs = 30000);
  // All of its output until it closes it (or `timeoutMs` passes).
  std::string ReadAll(int timeoutMs = 60000);
  // Closes its standard input.
  void CloseInput();
  void Kill(int signal);
  // Its exit status (128 + signal when killed); waits for it.
  int Wait();

 private:
  bool Fill(int timeoutMs);

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string buffered_;
  bool ended_ = false;
  int status_ = -1;
};

}  // namespace q9m::test
