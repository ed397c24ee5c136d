#include "file_streams.h"

#include <cerrno>

namespace palfill {
namespace {

// The library's callbacks: 0 for success, and the reason kept for the caller.
int kept(stream_file& stream, env_status status) {
  if (status.ok()) return 0;
  stream.failure = status.error;
  return 1;
}

int read_file(void* context, unsigned char* dest, std::size_t count, std::size_t* given) {
  auto* source = static_cast<stream_file*>(context);
  if (source->stop != nullptr && source->stop->load()) {
    *given = 0;
    return kept(*source, env_status{EINTR});
  }
  return kept(*source, source->files->read(source->file, dest, count, given));
}

int write_file(void* context, const unsigned char* bytes, std::size_t count) {
  auto* target = static_cast<stream_file*>(context);
  return kept(*target, target->files->write(target->file, bytes, count));
}

int cut_stream_file(void* context, unsigned long long length) {
  auto* target = static_cast<stream_file*>(context);
  return kept(*target, target->files->cut(target->file, length));
}

}  // namespace

palfill_reader file_reader(stream_file& source) {
  return palfill_reader{sizeof(palfill_reader), read_file, &source, 0, 0};
}

palfill_reader file_reader(stream_file& source, uint64_t length) {
  return palfill_reader{sizeof(palfill_reader), read_file, &source, 1, length};
}

palfill_writer file_writer(stream_file& target, bool can_cut) {
  return palfill_writer{sizeof(palfill_writer), write_file, can_cut ? cut_stream_file : nullptr,
                        &target};
}

}  // namespace palfill
