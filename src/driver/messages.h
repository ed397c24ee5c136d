// Every line palfill prints, as text ending in a newline, and the one way
// it prints a line. A run prints exactly one line, on standard output, and
// nothing on standard error. Names appear as the user typed them.
#ifndef PALFILL_DRIVER_MESSAGES_H_
#define PALFILL_DRIVER_MESSAGES_H_

#include <string>

std::string usage_line(const std::string& invocation_name);
std::string cant_open_line(const std::string& path);
std::string same_file_line(const std::string& path);
std::string not_png_output_line(const std::string& output_path);
std::string unknown_depth_line(int depth_code);
std::string not_a_clut_line(const std::string& path);
std::string not_png_line();
std::string unexpected_eof_line();
std::string cant_read_line(const std::string& path);
std::string cant_write_line(const std::string& output_path);
std::string chunk_too_large_line();
std::string finished_line(const std::string& input_path, const std::string& output_path);

// Writes `line` to standard output as the platform writes text.
void print_line(const std::string& line);

#endif  // PALFILL_DRIVER_MESSAGES_H_
