#include "support.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "png_builder.h"

namespace {

[[noreturn]] void exec_palfill(const std::vector<std::string>& args, const run_options& options,
                               int stdin_fd, const std::string& out_path,
                               const std::string& err_path) {
  dup2(stdin_fd, 0);
  dup2(open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
  dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
  if (options.address_space_limit != 0) {
    const rlimit limit{options.address_space_limit, options.address_space_limit};
    setrlimit(RLIMIT_AS, &limit);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(options.argv0.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(PALFILL_BINARY, argv.data());
  _exit(127);
}

}  // namespace

run_result run_palfill(const std::vector<std::string>& args, const run_options& options) {
  char capture_dir[] = "/tmp/palfill-run-XXXXXX";
  if (mkdtemp(capture_dir) == nullptr) return {};
  const std::string out_path = std::string(capture_dir) + "/out";
  const std::string err_path = std::string(capture_dir) + "/err";

  int feed[2] = {-1, -1};
  if (options.pipe_stdin && pipe(feed) != 0) return {};
  const int stdin_fd = options.pipe_stdin ? feed[0] : open("/dev/null", O_RDONLY);
  const pid_t pid = fork();
  if (pid == 0) {
    if (options.pipe_stdin) close(feed[1]);
    exec_palfill(args, options, stdin_fd, out_path, err_path);
  }
  close(stdin_fd);
  if (options.pipe_stdin) {
    signal(SIGPIPE, SIG_IGN);  // palfill may stop reading early
    std::size_t sent = 0;
    while (sent < options.stdin_bytes.size()) {
      const ssize_t n =
          write(feed[1], options.stdin_bytes.data() + sent, options.stdin_bytes.size() - sent);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    close(feed[1]);
  }
  int wait_status = 0;
  rusage usage{};
  wait4(pid, &wait_status, 0, &usage);

  run_result result;
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  result.peak_rss_kib = usage.ru_maxrss;
  std::filesystem::remove_all(capture_dir);
  return result;
}

void temp_dir_test::SetUp() {
  char dir[] = "/tmp/palfill-test-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  dir_ = dir;
}

void temp_dir_test::TearDown() {
  std::filesystem::remove_all(dir_);
}
