#include "messages/messages.h"

#include <algorithm>
#include <cstring>

#include "format/png_signature.h"
#include "palette/clut_reader.h"

namespace palfill {
namespace {

// A number in decimal, as std::to_string writes it; std::to_string would
// bring printf into the WebAssembly module, which carries this file too.
std::string decimal(long long value) {
  const bool negative = value < 0;
  unsigned long long left = negative ? 0ull - static_cast<unsigned long long>(value)
                                     : static_cast<unsigned long long>(value);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + left % 10));
    left /= 10;
  } while (left != 0);
  return negative ? "-" + digits : digits;
}

std::string error_line(const char* text, const std::string& path) {
  return std::string("Error : ") + text + " " + path + "\n";
}

// The length of the UTF-8 sequence at `at`, or 0 when none stands there.
std::size_t utf8_length(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  const std::size_t length = lead < 0x80   ? 1
                             : lead < 0xC2 ? 0
                             : lead < 0xE0 ? 2
                             : lead < 0xF5 ? 3 + (lead >= 0xF0)
                                           : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

bool is_utf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = utf8_length(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

void put_escaped(std::string& out, unsigned char byte) {
  static const char digits[] = "0123456789abcdef";
  out += "\\x";
  out += digits[byte >> 4];
  out += digits[byte & 15];
}

}  // namespace

std::string usage_line(const std::string& invocation_name) {
  return "Usage : " + invocation_name + " in.png [in.clt] out.png\n";
}

std::string cant_open_line(const std::string& path) {
  return error_line("Can't open file", path);
}

std::string same_file_line(const std::string& path) {
  return error_line("Input and output are the same file", path);
}

std::string not_png_output_line(const std::string& output_path) {
  return error_line("Output is not a PNG file", output_path);
}

std::string unknown_depth_line() {
  return "Error : Unknown depth (" + decimal(invalid_clut_depth_code) + ")\n";
}

std::string not_a_clut_line(const std::string& path) {
  return error_line("Not a CLUT file", path);
}

std::string not_png_line() {
  return "Error : Not a PNG format\n";
}

std::string unexpected_eof_line() {
  return "Error : Unexpected EOF\n";
}

std::string cant_read_line(const std::string& path) {
  return error_line("Can't read file", path);
}

std::string cant_write_line(const std::string& output_path) {
  return error_line("Can't write file", output_path);
}

std::string out_of_memory_line() {
  return "Error : Chunk too large to buffer\n";
}

std::string finished_line(const std::string& input_path, const std::string& output_path) {
  return "Finished " + input_path + " -> " + output_path + "\n";
}

std::string result_line(palfill_result result, const std::string& reading, const std::string& clut,
                        const std::string& output) {
  // No default: a result added to palfill.h without its line fails the
  // build (-Wswitch), so that every result keeps a line of its own.
  switch (result) {
    case PALFILL_FINISHED:
      return finished_line(reading, output);
    case PALFILL_NOT_PNG:
      return not_png_line();
    case PALFILL_UNEXPECTED_EOF:
    case PALFILL_CLUT_UNEXPECTED_EOF:
      return unexpected_eof_line();
    case PALFILL_UNKNOWN_DEPTH:
      return unknown_depth_line();
    case PALFILL_NOT_A_CLUT:
      return not_a_clut_line(clut);
    case PALFILL_OUT_OF_MEMORY:
      return out_of_memory_line();
    case PALFILL_WRITE_FAILED:
      return cant_write_line(output);
    case PALFILL_READ_FAILED:
      return cant_read_line(reading);
    case PALFILL_BUFFER_TOO_SMALL:  // only where a caller's buffer is the output
      return "Error : Output buffer too small\n";
    case PALFILL_INVALID_ARGUMENT:  // only from a caller's own reader or writer
      return "Error : Invalid argument\n";
  }
  return "Error : Unknown result (" + decimal(static_cast<int>(result)) + ")\n";
}

const char* result_name(palfill_result result) {
  switch (result) {  // -Wswitch: every result has its name
    case PALFILL_FINISHED:
      return "FINISHED";
    case PALFILL_NOT_PNG:
      return "NOT_PNG";
    case PALFILL_UNEXPECTED_EOF:
      return "UNEXPECTED_EOF";
    case PALFILL_CLUT_UNEXPECTED_EOF:
      return "CLUT_UNEXPECTED_EOF";
    case PALFILL_UNKNOWN_DEPTH:
      return "UNKNOWN_DEPTH";
    case PALFILL_NOT_A_CLUT:
      return "NOT_A_CLUT";
    case PALFILL_OUT_OF_MEMORY:
      return "OUT_OF_MEMORY";
    case PALFILL_WRITE_FAILED:
      return "WRITE_FAILED";
    case PALFILL_READ_FAILED:
      return "READ_FAILED";
    case PALFILL_BUFFER_TOO_SMALL:
      return "BUFFER_TOO_SMALL";
    case PALFILL_INVALID_ARGUMENT:
      return "INVALID_ARGUMENT";
  }
  return nullptr;
}

bool is_clut_failure(palfill_result result) {
  return result == PALFILL_CLUT_UNEXPECTED_EOF || result == PALFILL_UNKNOWN_DEPTH ||
         result == PALFILL_NOT_A_CLUT;
}

output_left left_by(palfill_result result, std::size_t size) {
  if (is_clut_failure(result)) return output_left::none;
  if (size == 0) return output_left::empty;
  return result == PALFILL_FINISHED ? output_left::whole : output_left::part;
}

bool begins_as_palfill_writes(const unsigned char* start, std::size_t size) {
  const auto begins_as = [&](const void* text, std::size_t length) {
    return std::memcmp(start, text, std::min(size, length)) == 0;
  };
  if (begins_as(png_signature, sizeof png_signature)) return true;
  for (const char* line : {"Finished ", "Error : ", "Usage : "}) {
    if (begins_as(line, std::strlen(line))) return true;
  }
  return false;
}

std::string tree_usage_line() {
  return "Usage : palfill-tree [-j N] [--clut FILE] IN_DIR OUT_DIR\n"
         "        palfill-tree --plan [--clut FILE] IN_DIR\n"
         "        palfill-tree [-j N] --use-plan FILE IN_DIR OUT_DIR\n";
}

std::string tree_help_text() {
  return tree_usage_line() +
         "Converts every .png under IN_DIR as palfill converts it, to the same path under "
         "OUT_DIR,\n"
         "each with the CLUT of the BML documents that show it, or of its folder.\n"
         "  -j N            convert N images at once, 1 to 1024 (default: one per processor)\n"
         "  --clut FILE     the colours of FILE for every image, whatever documents say\n"
         "  --plan          print which CLUT each output takes, and why; convert nothing\n"
         "  --use-plan FILE convert what FILE, a plan, says\n"
         "  --              what follows are folders, even when they begin with a dash\n"
         "  --help          this text\n"
         "  --version       the version\n"
         "See palfill-tree(1).\n";
}

std::string tree_version_line() {
  return std::string("palfill-tree ") + palfill_version() + "\n";
}

std::string more_than_one_clut_line(const std::string& folder) {
  return error_line("More than one CLUT file in", folder);
}

std::string cant_open_folder_line(const std::string& folder) {
  return error_line("Can't open folder", folder);
}

std::string folder_loop_line(const std::string& link) {
  return error_line("Link to a folder it is inside of", link);
}

std::string folder_converted_as_line(const std::string& converted_as) {
  return error_line("Folder converted as", converted_as);
}

std::string not_regular_file_line(const std::string& path) {
  return error_line("Not a regular file", path);
}

std::string output_through_link_line(const std::string& link) {
  return error_line("Output goes through a link", link);
}

std::string output_inside_input_line(const std::string& output_path) {
  return error_line("Output inside the input folder", output_path);
}

std::string input_inside_output_line(const std::string& input_path) {
  return error_line("Input inside the output folder", input_path);
}

std::string tree_out_of_memory_line() {
  return "Error : Out of memory\n";
}

std::string tree_summary_line(const std::string& in_dir, const std::string& out_dir,
                              std::size_t converted, std::size_t failed) {
  return "Finished " + in_dir + " -> " + out_dir + ": " +
         decimal(static_cast<long long>(converted)) + " converted, " +
         decimal(static_cast<long long>(failed)) + " failed\n";
}

std::string tree_clut_failure_line(const std::string& line, palfill_result result,
                                   const std::string& clut) {
  if (result != PALFILL_CLUT_UNEXPECTED_EOF && result != PALFILL_UNKNOWN_DEPTH) return line;
  return line.substr(0, line.size() - 1) + " (" + clut + ")\n";
}

bool is_tree_report(const std::string& text) {
  if (text.empty()) return true;
  const std::size_t end = text.back() == '\n' ? text.size() - 1 : text.size();
  const std::size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
  const std::string last = text.substr(start == std::string::npos ? 0 : start + 1,
                                       end - (start == std::string::npos ? 0 : start + 1));
  const std::size_t counts = last.rfind(": ");
  if (last.compare(0, 9, "Finished ") != 0 || counts == std::string::npos ||
      last.find(" -> ") > counts) {
    return false;
  }
  // ": N converted, F failed", each count in digits.
  std::size_t at = counts + 2;
  for (const char* word : {" converted, ", " failed"}) {
    const std::size_t digits = at;
    while (at < last.size() && last[at] >= '0' && last[at] <= '9') ++at;
    if (at == digits || last.compare(at, std::strlen(word), word) != 0) return false;
    at += std::strlen(word);
  }
  return at == last.size();
}

std::string tree_argument_note(const std::string& what) {
  return "palfill-tree: " + what + "\n";
}

std::string rendering_names_image_line(const std::string& image) {
  return "Error : Rendering of " + image + " has the name of an image of the tree\n";
}

std::string rendering_names_rendering_line(const std::string& image) {
  return "Error : Rendering of " + image + " has the name of another rendering\n";
}

std::string plan_line(const plan_fields& fields) {
  return without_controls(fields.output, true) + "\t" + without_controls(fields.input, true) +
         "\t" + without_controls(fields.clut, true) + "\t" + without_controls(fields.why, true) +
         "\n";
}

bool read_plan_line(const std::string& line, plan_fields& fields) {
  std::string* const field[] = {&fields.output, &fields.input, &fields.clut, &fields.why};
  std::size_t which = 0;
  for (std::string* f : field) f->clear();
  static const std::string digits = "0123456789abcdef";
  for (std::size_t at = 0; at < line.size(); ++at) {
    const char c = line[at];
    if (c == '\t') {
      if (++which == 4) return false;
      continue;
    }
    if (c != '\\') {
      *field[which] += c;
      continue;
    }
    if (at + 1 < line.size() && line[at + 1] == '\\') {
      *field[which] += '\\';
      ++at;
      continue;
    }
    const auto hex = [&](std::size_t i) {
      const char d = i < line.size() && line[i] >= 'A' && line[i] <= 'F' ? char(line[i] + 32)
                     : i < line.size()                                   ? line[i]
                                                                         : 'z';
      return digits.find(d);
    };
    if (at + 3 >= line.size() || line[at + 1] != 'x' || hex(at + 2) == std::string::npos ||
        hex(at + 3) == std::string::npos) {
      return false;
    }
    *field[which] += static_cast<char>(hex(at + 2) * 16 + hex(at + 3));
    at += 3;
  }
  return which == 3;
}

std::string not_a_plan_line() {
  return "Error : Not a plan line\n";
}

std::string without_controls(const std::string& text, bool backslashes) {
  // Most names have nothing to escape: a plan of thousands of them is
  // made mostly of this test.
  const bool plain = std::none_of(text.begin(), text.end(), [backslashes](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F || byte == 0xC2 || (backslashes && byte == '\\');
  });
  if (plain) return text;
  const bool utf8 = is_utf8(text);
  const bool line_end = !backslashes && !text.empty() && text.back() == '\n';
  const std::size_t end = line_end ? text.size() - 1 : text.size();
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < end; ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const bool c1 = utf8 && byte == 0xC2 && at + 1 < end &&
                    static_cast<unsigned char>(text[at + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[at + 1]) <= 0x9F;
    if (byte < 0x20 || byte == 0x7F) {
      put_escaped(out, byte);
    } else if (backslashes && byte == '\\') {
      out += "\\\\";
    } else if (c1) {
      put_escaped(out, byte);
      put_escaped(out, static_cast<unsigned char>(text[++at]));
    } else {
      out += text[at];
    }
  }
  return out + text.substr(end);
}

}  // namespace palfill
