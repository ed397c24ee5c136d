#include "support.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "png_builder.h"

using namespace palfill;

namespace {

const char* launcher() {
  const char* value = std::getenv("PALFILL_TEST_LAUNCHER");
  return value != nullptr && *value != '\0' ? value : nullptr;
}

const char* executable() {
  const char* value = std::getenv("PALFILL_TEST_EXECUTABLE");
  return value != nullptr && *value != '\0' ? value : PALFILL_BINARY;
}

// palfill-tree, beside palfill: palfill.exe's is palfill-tree.exe.
std::string tree_executable() {
  const std::string palfill = executable();
  const std::size_t name = palfill.rfind("palfill");
  return palfill.substr(0, name) + "palfill-tree" + palfill.substr(name + 7);
}

[[noreturn]] void exec_palfill(const std::vector<std::string>& args, const run_options& options,
                               int stdin_fd, int stdout_fd, const std::string& err_path,
                               int terminal) {
  dup2(stdin_fd, 0);
  dup2(stdout_fd, 1);
  dup2(terminal >= 0 ? terminal : open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
  if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(127);
  if (options.as_nobody && getuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(127);
  if (options.timeout_seconds != 0) alarm(options.timeout_seconds);  // kept across exec
  if (options.address_space_limit != 0) {
    const rlimit limit{options.address_space_limit, options.address_space_limit};
    setrlimit(RLIMIT_AS, &limit);
  }
  const std::string program = options.tree ? tree_executable() : executable();
  std::vector<char*> argv;
  if (launcher() != nullptr) {
    setenv("WINEDEBUG", "-all", 0);  // Wine's own notes would land on standard error
    argv.push_back(const_cast<char*>(launcher()));
    if (!windows_launcher()) {  // qemu-user passes on the argv[0] it is given
      argv.push_back(const_cast<char*>("-0"));
      argv.push_back(const_cast<char*>(options.argv0.c_str()));
    }
    argv.push_back(const_cast<char*>(program.c_str()));
  } else {
    for (const std::string& word : options.wrapper) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(
        const_cast<char*>(options.wrapper.empty() ? options.argv0.c_str() : program.c_str()));
  }
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  if (!options.wrapper.empty() && launcher() == nullptr) execvp(argv[0], argv.data());
  execv(launcher() != nullptr ? launcher() : program.c_str(), argv.data());
  _exit(127);
}

bool write_all(int fd, const char* bytes, std::size_t size) {
  for (std::size_t sent = 0; sent < size;) {
    const ssize_t n = write(fd, bytes + sent, size - sent);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

void feed_stdin(int fd, const run_options& options) {
  signal(SIGPIPE, SIG_IGN);  // palfill may stop reading early
  if (options.stdin_file.empty()) {
    write_all(fd, options.stdin_bytes.data(), options.stdin_bytes.size());
  } else {
    const int file = open(options.stdin_file.c_str(), O_RDONLY);
    std::vector<char> block(1 << 20);
    for (ssize_t n; (n = read(file, block.data(), block.size())) > 0;) {
      if (!write_all(fd, block.data(), static_cast<std::size_t>(n))) break;
    }
    close(file);
  }
  close(fd);
}

// Standard output as a pipe, drained into `path` by a process of its own so
// that palfill never waits for the feeding to finish.
pid_t start_drain(int& stdout_fd, const std::string& path) {
  int drain[2];
  if (pipe(drain) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(drain[1]);
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    char block[65536];
    for (ssize_t n; (n = read(drain[0], block, sizeof block)) > 0;) {
      write_all(file, block, static_cast<std::size_t>(n));
    }
    _exit(0);
  }
  close(drain[0]);
  stdout_fd = drain[1];
  return pid;
}

run_result run_once(const std::vector<std::string>& args, const run_options& options) {
  char capture_dir[] = "/tmp/palfill-run-XXXXXX";
  if (mkdtemp(capture_dir) == nullptr) return {};
  const std::string out_path = std::string(capture_dir) + "/out";
  const std::string err_path = std::string(capture_dir) + "/err";

  // The drain starts first, so that it holds no end of the feeding pipe.
  int stdout_fd = -1;
  const pid_t drain_pid = options.stdout_pipe ? start_drain(stdout_fd, out_path) : -1;
  if (!options.stdout_file.empty()) {
    const int flags[] = {O_WRONLY | O_CREAT | O_TRUNC, O_WRONLY | O_CREAT | O_APPEND,
                         O_RDWR | O_CREAT};
    stdout_fd = open(options.stdout_file.c_str(), flags[int(options.stdout_opened)], 0600);
  } else if (!options.stdout_pipe) {
    stdout_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  int feed[2] = {-1, -1};
  if (options.pipe_stdin && pipe(feed) != 0) return {};
  // A pseudo-terminal for standard error: palfill-tree's own end, and ours
  // to read what it drew.
  int terminal = -1, terminal_side = -1;
  if (options.stderr_terminal) {
    terminal_side = posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal_side < 0 || grantpt(terminal_side) != 0 || unlockpt(terminal_side) != 0) return {};
    terminal = open(ptsname(terminal_side), O_RDWR | O_NOCTTY);
  }
  const int stdin_fd = options.pipe_stdin ? feed[0] : open("/dev/null", O_RDONLY);
  const pid_t pid = fork();
  if (pid == 0) {
    if (options.pipe_stdin) close(feed[1]);
    exec_palfill(args, options, stdin_fd, stdout_fd, err_path, terminal);
  }
  close(stdin_fd);
  close(stdout_fd);
  if (terminal >= 0) close(terminal);
  if (options.pipe_stdin) feed_stdin(feed[1], options);
  int wait_status = 0;
  rusage usage{};
  wait4(pid, &wait_status, 0, &usage);
  if (drain_pid > 0) waitpid(drain_pid, nullptr, 0);

  run_result result;
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  result.raw_out = read_file(out_path);
  result.out = result.raw_out;
  if (result.out.size() >= 2 && result.out.compare(result.out.size() - 2, 2, "\r\n") == 0) {
    result.out.erase(result.out.size() - 2, 1);
  }
  result.err = read_file(err_path);
  if (terminal_side >= 0) {  // what it drew, as the terminal passed it on
    char block[4096];
    for (ssize_t n; (n = read(terminal_side, block, sizeof block)) > 0;)
      result.err.append(block, n);
    close(terminal_side);
  }
  result.peak_rss_kib = usage.ru_maxrss;
  std::filesystem::remove_all(capture_dir);
  return result;
}

}  // namespace

// Wine fails, now and then, to start a program at all (3 times in 22,000
// starts, measured): it ends with status 1 before palfill's main() runs
// (a palfill.exe that printed a mark on standard error as main() began
// printed none), and nothing is written anywhere. Such a run, with no line
// and nothing on standard error, is run once more, and the note says so.
// When standard output goes into a file of the test's own, the run looks
// the same when that file is unchanged; running palfill once more is then
// safe, since a second run leaves what the first left. A palfill that
// prints nothing still fails, since it does so again.
run_result run_palfill(const std::vector<std::string>& args, const run_options& options) {
  const bool into_file = !options.stdout_file.empty();
  const std::string before = into_file ? read_file(options.stdout_file) : "";
  const run_result result = run_once(args, options);
  const bool nothing_happened =
      result.status != 0 && result.err.empty() &&
      (into_file ? read_file(options.stdout_file) == before : result.raw_out.empty());
  if (!under_launcher() || !nothing_happened) return result;
  std::cout << "note: the launcher gave no output and status " << result.status
            << "; running it once more\n";
  return run_once(args, options);
}

bool under_launcher() {
  return launcher() != nullptr;
}

bool windows_launcher() {
  return launcher() != nullptr && std::string(launcher()).find("wine") != std::string::npos;
}

std::string palfill_shell_words() {
  const auto quoted = [](const std::string& word) { return "'" + word + "'"; };
  if (launcher() == nullptr) return quoted(executable());
  return quoted(launcher()) + " " + quoted(executable());
}

bool posix_part(const char* needs) {
  if (!windows_launcher()) return true;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  // Not gtest's own skip marker: the rest of the test still runs.
  std::cout << "note: " << test->test_suite_name() << "." << test->name()
            << " leaves out the part that needs " << needs << ", which only POSIX offers\n";
  return false;
}

clut_result load_clut_bytes(const std::string& clut, palette_table& table) {
  memory_input input{reinterpret_cast<const uint8_t*>(clut.data()), clut.size(), 0};
  byte_source source = memory_source(input, true);
  return load_clut(source, table);
}

void temp_dir_test::SetUp() {
  char dir[] = "/tmp/palfill-test-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  dir_ = dir;
}

void temp_dir_test::TearDown() {
  std::filesystem::remove_all(dir_);
}

std::string unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\\x") == 0 && i + 3 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}
