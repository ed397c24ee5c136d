#include "command.h"

#include <new>

#include "messages/messages.h"

namespace palfill {
namespace {

struct run_arguments {
  const command_argument* input;
  const command_argument* clut;  // null when none is named
  const command_argument* output;
};

// Positional roles: two arguments are input and output; with three or
// more the second is the CLUT and anything past the third is ignored.
run_arguments assign_roles(const std::vector<command_argument>& args) {
  if (args.size() == 3) return run_arguments{&args[1], nullptr, &args[2]};
  return run_arguments{&args[1], &args[2], &args[3]};
}

// Where the line goes. Standard output may lead into a file palfill reads
// or writes: the line then never goes into the input, the CLUT or an
// output that was refused, and into the output only after what is there.
void print_where_it_belongs(const std::string& line, const run_arguments& roles) {
  const conversion_setup setup{identify_stdout()};
  const file_identity& out = setup.standard_output;
  const auto is_stdout = [&](const command_argument& name) {
    return same_file(out, setup.files->identify(name.path));
  };
  if (out.type == file_identity::kind::regular) {
    if (is_stdout(*roles.input)) return;
    if (roles.clut != nullptr && is_stdout(*roles.clut)) return;
    if (is_stdout(*roles.output)) {
      int reason = 0;
      if (judge_existing_output(roles.output->path, setup, &reason) !=
          existing_output::palfill_may_replace) {
        return;
      }
      move_stdout_to_end();
    }
  }
  write_stdout(line);
}

int run(const std::vector<command_argument>& args) {
  if (args.size() < 3) {
    write_stdout(usage_line(args.empty() ? "palfill" : args[0].text));
    return 1;
  }
  const run_arguments roles = assign_roles(args);
  const file_conversion done = convert_files(*roles.input, roles.clut, *roles.output);
  print_where_it_belongs(done.line, roles);
  return done.status;
}

}  // namespace

int run_palfill(const std::vector<command_argument>& args) {
  try {
    return run(args);
  } catch (const std::bad_alloc&) {  // a line or a name that cannot be held
    write_stdout(out_of_memory_line());
    return 1;
  }
}

}  // namespace palfill
