// The platform's own calls behind native_files(): defined for POSIX in
// env_posix.cc and for Windows in env_windows.cc, and listed once, in
// env.cc. Nothing else calls them by name: the driver reaches them through
// a file_system (see env.h).
#ifndef PALFILL_DRIVER_ENV_NATIVE_H_
#define PALFILL_DRIVER_ENV_NATIVE_H_

#include "env.h"

namespace palfill {
namespace native {

file_identity identify(const native_path& path);
file_identity identify_unfollowed(const native_path& path);
file_identity identify_open(int file);
env_status open_for_reading(const native_path& path, read_mode mode, int* file,
                            file_identity* identity);
env_status open_for_writing(const native_path& path, write_mode mode, int* file);
env_status read_file(int file, unsigned char* dest, std::size_t count, std::size_t* given);
env_status write_file(int file, const unsigned char* bytes, std::size_t count);
env_status cut_file(int file, uint64_t length);
env_status close_file(int file);
env_status list_folder(const native_path& path, std::vector<folder_entry>& entries);
env_status probe_folder(const native_path& path);
env_status make_folder(const native_path& path);
env_status real_path(const native_path& path, native_path* real);

}  // namespace native
}  // namespace palfill

#endif  // PALFILL_DRIVER_ENV_NATIVE_H_
