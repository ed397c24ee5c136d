#include "tree_arguments.h"

#include <cstdlib>
#include <string>

#include "env.h"
#include "messages/messages.h"

namespace palfill {
namespace {

constexpr unsigned long most_jobs = 1024;

// -j's number, or 0 when it is none from 1 to most_jobs.
unsigned job_count(const std::string& text) {
  if (text.empty() || text.size() > 4) return 0;
  unsigned long count = 0;
  for (const char digit : text) {
    if (digit < '0' || digit > '9') return 0;
    count = count * 10 + static_cast<unsigned long>(digit - '0');
  }
  return count <= most_jobs ? static_cast<unsigned>(count) : 0;
}

int usage(const std::string& mistake) {
  if (!mistake.empty()) write_stderr(tree_argument_note(mistake));
  write_stdout(tree_usage_line());
  return 2;
}

}  // namespace

std::optional<int> read_tree_arguments(const std::vector<command_argument>& args,
                                       tree_request& request) {
  tree_options& options = request.options;
  std::vector<const command_argument*> places;
  bool options_end = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i].text;
    const bool has_value = i + 1 < args.size();
    if (options_end || arg.empty() || arg[0] != '-' || arg == "-") {
      places.push_back(&args[i]);
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "-h" || arg == "--help") {
      write_stdout(tree_help_text());
      return 0;
    } else if (arg == "--version") {
      write_stdout(tree_version_line());
      return 0;
    } else if (arg == "-j" || arg.compare(0, 2, "-j") == 0) {
      const unsigned jobs = arg != "-j" ? job_count(arg.substr(2))
                            : has_value ? job_count(args[++i].text)
                                        : 0;
      if (jobs == 0) return usage("-j takes a number from 1 to " + std::to_string(most_jobs));
      options.jobs = jobs;
    } else if (arg == "--plan") {
      request.plan = true;
    } else if (arg == "--use-plan") {
      if (!has_value) return usage("--use-plan takes a file");
      request.use_plan = args[++i];
    } else if (arg == "--clut" || arg.compare(0, 7, "--clut=") == 0) {
      if (arg == "--clut" && !has_value) return usage("--clut takes a file");
      if (arg == "--clut") {
        options.clut = args[++i];
      } else if (arg.size() > 7) {
        options.clut =
            command_argument{native_path(args[i].path.native().substr(7)), arg.substr(7)};
      } else {
        return usage("--clut takes a file");
      }
    } else {
      return usage("no option " + arg);
    }
  }
  if (request.plan && request.use_plan) return usage("--plan and --use-plan do not go together");
  if (request.use_plan && options.clut) return usage("--use-plan names each CLUT: no --clut");
  if (places.size() != (request.plan ? 1u : 2u)) return usage("");
  options.in_dir = *places[0];
  if (!request.plan) options.out_dir = *places[1];
  return std::nullopt;
}

}  // namespace palfill
