#include "env.h"

#include "env_native.h"

namespace palfill {

const file_system& native_files() {
  static const file_system files{native::identify,         native::identify_unfollowed,
                                 native::identify_open,    native::open_for_reading,
                                 native::open_for_writing, native::read_file,
                                 native::write_file,       native::cut_file,
                                 native::close_file,       native::list_folder,
                                 native::probe_folder,     native::make_folder,
                                 native::real_path};
  return files;
}

}  // namespace palfill
