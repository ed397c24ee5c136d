// Every line palfill prints. Each goes to standard output, exactly one per
// run; nothing is ever written to standard error.
#ifndef PALFILL_DRIVER_MESSAGES_H_
#define PALFILL_DRIVER_MESSAGES_H_

void print_usage(const char* invocation_name);
void print_cant_open(const char* path);
void print_unknown_depth(int depth_code);
void print_not_png();
void print_same_file(const char* output_path);
void print_cant_write(const char* output_path);
void print_chunk_too_large();
void print_finished(const char* input_path, const char* output_path);

// A read of the CLUT file or the input PNG came up short: prints
// "Error : Unexpected EOF" and ends the process with status 1. Open streams
// are flushed by process exit, so what was written so far stays on disk.
[[noreturn]] void die_unexpected_eof();

#endif  // PALFILL_DRIVER_MESSAGES_H_
