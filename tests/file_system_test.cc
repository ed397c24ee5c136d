// The driver's conversion of files, in process, over a file_system whose
// calls fail as no disk fails on demand: a close that meets a late write
// error, a cut back that fails, a read that fails part way. Built for every
// platform, Windows among them (run under Wine), with nothing but the
// driver and GoogleTest.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>

#include "driver/conversion.h"
#include "messages/messages.h"
#include "png_builder.h"

namespace palfill {
namespace {

const file_system& native = native_files();

// Closing the output meets an error (the input's close is not looked at).
env_status close_failing(int file) {
  native.close(file);
  return env_status{EIO};
}

env_status cut_failing(int, uint64_t) {
  return env_status{EIO};
}

// The input as a pipe: its size unknown, so a long chunk cut short is
// seen only after its data went out, and the output must be cut back.
env_status open_as_pipe(const native_path& path, read_mode mode, int* file,
                        file_identity* identity) {
  const env_status opened = native.open_for_reading(path, mode, file, identity);
  if (identity != nullptr && identity->type == file_identity::kind::regular) {
    identity->type = file_identity::kind::pipe;
  }
  return opened;
}

// Fails a read that fills all it was asked for: a long input's first block.
env_status read_failing_late(int file, unsigned char* dest, std::size_t count, std::size_t* given) {
  const env_status read = native.read(file, dest, count, given);
  return read.ok() && *given == count ? env_status{EIO} : read;
}

TEST(file_system, failed_calls_are_the_conversions_failure) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("palfill-fs-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(dir);
  const auto named = [&](const char* name) {
    const native_path path = dir / name;
    return command_argument{path, printed_name(path)};
  };
  const std::string png = indexed_png(5, 3, 2, [](uint32_t x, uint32_t y) { return (x + y) % 4; });
  const std::string long_chunk = png_signature_bytes() + png_chunk("IHDR", ihdr_data(4, 4, 8, 3)) +
                                 png_chunk("IDAT", std::string(600 << 10, 'x'));
  ASSERT_TRUE(write_file(printed_name(dir / "in.png"), png));
  ASSERT_TRUE(write_file(printed_name(dir / "long.png"), long_chunk.substr(0, 400 << 10)));
  const command_argument out = named("out.png");

  file_system closing = native, cutting = native, reading = native;
  closing.close = close_failing;
  cutting.open_for_reading = open_as_pipe;
  cutting.cut = cut_failing;
  reading.read = read_failing_late;
  const struct {
    const char* call;
    const file_system* files;
    command_argument input;
    std::string line;
  } cases[] = {
      {"close", &closing, named("in.png"), cant_write_line(out.text)},
      {"cut", &cutting, named("long.png"), cant_write_line(out.text)},
      {"read", &reading, named("long.png"), cant_read_line(named("long.png").text)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    std::filesystem::remove(dir / "out.png");
    conversion_setup setup{identify_stdout()};
    setup.files = c.files;
    const file_conversion done = convert_files(c.input, default_colours(), out, setup);
    EXPECT_EQ(done.line, c.line);
    EXPECT_EQ(done.status, 1);
    EXPECT_EQ(done.error_number, EIO);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace palfill
