// Console: everything the program says and everything it reads from the user.
//
//   con_printf          formatted output (standard output unless redirected)
//   con_format          printf into a string
//   con_progress        the progress line of one image line
//   con_read_word       next white-space separated word of the answers
//   ask_word / ask_int  a word or a whole number, with the dialogue's rules
//   con_key_wait        one key press (no echo, no Enter) before a stop
//   RunStopped, stop_run  the one way a run ends early
//   con_use_memory_input / con_use_fd_input / con_set_output  redirection
//                       for tests and fuzz targets
//
// Answers are read in large blocks from a file descriptor (or from memory),
// so the key wait can tell typed-ahead answers from a fresh key press.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

// Thrown by stop_run; main (or a test, or a fuzz target) catches it and ends
// the run with `status`.
struct RunStopped {
  int status;
};

// Prints `message` (already formatted, with its own "\n\t" lead), waits for a
// key when `key_wait`, then throws RunStopped{status}.
[[noreturn]] void stop_run(const std::string& message, bool key_wait = false, int status = 1);

void con_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// printf into a string, for the messages handed to stop_run.
std::string con_format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void con_flush();

// The progress line of image line `line` ("\t\tline %d", 24 blanks, "\r"),
// shown at once when the output is a terminal.
void con_progress(int line);

// Reads the next word; false at end of input.
bool con_read_word(std::string& word);

// A word answer. End of input stops the run (the dialogue cannot go on).
std::string ask_word();

// A whole-number answer: one word that is wholly a decimal integer (optional
// sign) within int. Any other word is consumed, a short line says why,
// `reprompt` prints the question again and a new word is read.
int ask_int(const std::function<void()>& reprompt);

// Waits for one key press. At a terminal: one key, no echo, no Enter, with
// anything typed ahead discarded. Otherwise one byte of the answers (nothing
// at end of input), so a script never blocks here.
void con_key_wait();

// Parses a whole decimal int; false for anything else.
bool parse_int(const std::string& word, int& value);

void con_use_memory_input(std::string data);
void con_use_fd_input(int fd);
void con_set_output(FILE* out);
