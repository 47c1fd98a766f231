#include "tests/app/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace q9m::test {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment) {
  int toChild[2];
  int fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);

  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool overridden = false;
    for (const std::string& ours : environment) {
      const auto name = ours.substr(0, ours.find('=') + 1);
      overridden = overridden || text.compare(0, name.size(), name) == 0;
    }
    if (!overridden) env.push_back(text);
  }
  env.insert(env.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> args{program};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const int spawned =
      posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(toChild[0]);
  close(fromChild[1]);
  input_ = toChild[1];
  output_ = fromChild[0];
  if (spawned != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(spawned));
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && status_ < 0) {
    kill(pid_, SIGKILL);
    Wait();
  }
  if (input_ >= 0) close(input_);
  if (output_ >= 0) close(output_);
}

bool ChildProcess::Fill(int timeoutMs) {
  if (ended_) return false;
  pollfd readable{output_, POLLIN, 0};
  if (poll(&readable, 1, timeoutMs) <= 0) return false;
  char chunk[4096];
  const ssize_t n = read(output_, chunk, sizeof chunk);
  if (n <= 0) {
    ended_ = true;
    return false;
  }
  buffered_.append(chunk, static_cast<size_t>(n));
  return true;
}

std::string ChildProcess::ReadLine(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t end = buffered_.find('\n');
    if (end != std::string::npos) {
      std::string line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !Fill(static_cast<int>(left.count()))) return {};
  }
}

std::string ChildProcess::ReadAll(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !Fill(static_cast<int>(left.count()))) break;
  }
  std::string all;
  all.swap(buffered_);
  return all;
}

void ChildProcess::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

void ChildProcess::Kill(int signal) {
  if (pid_ > 0 && status_ < 0) kill(pid_, signal);
}

int ChildProcess::Wait() {
  if (status_ >= 0 || pid_ <= 0) return status_;
  int raw = 0;
  while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
  }
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return status_;
}

}  // namespace q9m::test
