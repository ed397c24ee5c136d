#include "file_streams.h"

#include <cerrno>

#include "env.h"

namespace palfill {
namespace {

int read_file(void* context, unsigned char* dest, std::size_t count, std::size_t* given) {
  auto* source = static_cast<stream_file*>(context);
  if (read_from(source->file, dest, count, given)) return 0;
  source->failure = errno;
  return 1;
}

int write_file(void* context, const unsigned char* bytes, std::size_t count) {
  auto* target = static_cast<stream_file*>(context);
  if (write_to(target->file, bytes, count)) return 0;
  target->failure = errno;
  return 1;
}

int cut_stream_file(void* context, unsigned long long length) {
  auto* target = static_cast<stream_file*>(context);
  if (cut_file(target->file, length)) return 0;
  target->failure = errno;
  return 1;
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
