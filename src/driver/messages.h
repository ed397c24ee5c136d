// Every line palfill prints. Each goes to standard output, exactly one per
// run; nothing is ever written to standard error. Names are printed as the
// user typed them.
#ifndef PALFILL_DRIVER_MESSAGES_H_
#define PALFILL_DRIVER_MESSAGES_H_

#include <string>

void print_usage(const std::string& invocation_name);
void print_cant_open(const std::string& path);
void print_unknown_depth(int depth_code);
void print_not_png();
void print_not_a_clut(const std::string& path);
void print_unexpected_eof();
void print_same_file(const std::string& output_path);
void print_cant_read(const std::string& path);
void print_cant_write(const std::string& output_path);
void print_chunk_too_large();
void print_finished(const std::string& input_path, const std::string& output_path);

#endif  // PALFILL_DRIVER_MESSAGES_H_
