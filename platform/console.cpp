// Console: see console.h.
#include "platform/console.h"
#include "platform/text.h"

#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstring>

#include <termios.h>
#include <unistd.h>

namespace {

// Where answers come from. Bytes are taken from `buffer` at `pos`; when it
// runs dry and `fd` >= 0 another block is read.
struct Input {
  int fd = 0;
  std::string buffer;
  std::size_t pos = 0;
  bool eof = false;
};

Input input;
FILE* output = nullptr;
int output_is_terminal = -1;  // -1: not known yet

FILE* out() { return output ? output : stdout; }

bool fill() {
  if (input.pos < input.buffer.size()) return true;
  if (input.eof || input.fd < 0) return false;
  char block[4096];
  for (;;) {
    ssize_t n = ::read(input.fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      input.eof = true;
      return false;
    }
    input.buffer.assign(block, static_cast<std::size_t>(n));
    input.pos = 0;
    return true;
  }
}

int next_byte() {
  if (!fill()) return EOF;
  return static_cast<unsigned char>(input.buffer[input.pos++]);
}

bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

void con_use_memory_input(std::string data) {
  input = Input{};
  input.fd = -1;
  input.buffer = std::move(data);
}

void con_use_fd_input(int fd) {
  input = Input{};
  input.fd = fd;
}

void con_set_output(FILE* o) {
  output = o;
  output_is_terminal = -1;
}

void con_printf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vfprintf(out(), fmt, args);
  va_end(args);
}

std::string con_format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string s = vformat_text(fmt, args);
  va_end(args);
  return s;
}

void con_flush() { std::fflush(out()); }

void con_progress(int line) {
  con_printf("\t\tline %d                        \r", line);
  if (output_is_terminal < 0) output_is_terminal = isatty(fileno(out())) ? 1 : 0;
  // a carriage return does not flush a terminal's line buffer
  if (output_is_terminal) con_flush();
}

bool con_read_word(std::string& word) {
  // the question must be on screen before the answer is awaited
  con_flush();
  word.clear();
  int c = next_byte();
  while (c != EOF && is_blank(c)) c = next_byte();
  if (c == EOF) return false;
  while (c != EOF && !is_blank(c)) {
    word.push_back(static_cast<char>(c));
    c = next_byte();
  }
  return true;
}

std::string ask_word() {
  std::string word;
  if (!con_read_word(word)) stop_run("\n\tEnd of input: the dialogue is not complete, nothing more is done.\n");
  return word;
}

bool parse_int(const std::string& word, int& value) {
  std::size_t digits_at = (!word.empty() && (word[0] == '+' || word[0] == '-')) ? 1 : 0;
  if (digits_at == word.size()) return false;
  for (std::size_t k = digits_at; k < word.size(); ++k)
    if (word[k] < '0' || word[k] > '9') return false;
  // from_chars takes a '-' but not a '+'
  const char* first = word.data() + (word[0] == '+' ? 1 : 0);
  const char* last = word.data() + word.size();
  int v = 0;
  auto [ptr, ec] = std::from_chars(first, last, v);
  if (ec != std::errc() || ptr != last) return false;
  value = v;
  return true;
}

int ask_int(const std::function<void()>& reprompt) {
  for (;;) {
    std::string word = ask_word();
    int value = 0;
    if (parse_int(word, value)) return value;
    con_printf("\n\t\"%s\" is not a whole number.\n", word.c_str());
    reprompt();
  }
}

void con_key_wait() {
  con_flush();
  if (input.fd >= 0 && isatty(input.fd)) {
    // A fresh key press, not the rest of the line typed before.
    input.buffer.clear();
    input.pos = 0;
    termios saved{};
    if (tcgetattr(input.fd, &saved) == 0) {
      termios raw = saved;
      raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      tcflush(input.fd, TCIFLUSH);
      tcsetattr(input.fd, TCSANOW, &raw);
      char c;
      while (::read(input.fd, &c, 1) < 0 && errno == EINTR) {
      }
      tcsetattr(input.fd, TCSANOW, &saved);
      return;
    }
  }
  next_byte();
}

void stop_run(const std::string& message, bool key_wait, int status) {
  con_printf("%s", message.c_str());
  if (key_wait) con_key_wait();
  con_flush();
  throw RunStopped{status};
}
