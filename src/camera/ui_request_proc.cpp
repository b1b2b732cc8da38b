#include <cctype>
#include <cstdio>

#include "camera/module_callbacks.h"
#include "camera/module_commands.h"

std::FILE* uiRequestInput = nullptr;

namespace {

// One question, the letters it accepts with their answers, and the answer
// taken when no more input can come.
struct Question {
  const char* text;
  const char* letters;
  std::uint32_t answers[3];
  std::uint32_t withoutInput;
  const char* withoutInputName;
};

const Question* questionFor(std::uint32_t type) {
  static const Question questions[] = {
      {"\nPress 'O' key. ('O': OK)\n>", "O", {MODULE_ANSWER_OK}, MODULE_ANSWER_OK, "OK"},
      {"\nPress 'O' or 'C' key. ('O': OK   'C': Cancel)\n>",
       "OC",
       {MODULE_ANSWER_OK, MODULE_ANSWER_CANCEL},
       MODULE_ANSWER_CANCEL,
       "Cancel"},
      {"\nPress 'Y' or 'N' key. ('Y': Yes   'N': No)\n>",
       "YN",
       {MODULE_ANSWER_YES, MODULE_ANSWER_NO},
       MODULE_ANSWER_NO,
       "No"},
      {"\nPress 'Y' or 'N' or 'C' key. ('Y': Yes   'N': No   'C': Cancel)\n>",
       "YNC",
       {MODULE_ANSWER_YES, MODULE_ANSWER_NO, MODULE_ANSWER_CANCEL},
       MODULE_ANSWER_CANCEL,
       "Cancel"},
  };
  return type < sizeof questions / sizeof questions[0] ? &questions[type] : nullptr;
}

// Reads one whitespace-delimited word, all of it, and returns its first
// character; EOF at the end of the input or on a read error. Consuming the
// whole word keeps the tail of an overlong word from counting as an answer.
int readWordInitial(std::FILE* input) {
  int c = std::fgetc(input);
  while (c != EOF && std::isspace(c)) c = std::fgetc(input);
  if (c == EOF) return EOF;
  const int initial = c;
  do {
    c = std::fgetc(input);
  } while (c != EOF && !std::isspace(c));
  return initial;
}

}  // namespace

std::uint32_t UIRequestProc(void* reference, UIRequestInfo* request) {
  (void)reference;
  if (request == nullptr) return MODULE_ANSWER_NONE;
  if (request->prompt != nullptr) std::printf("\n%s\n", request->prompt);
  if (request->detail != nullptr) std::printf("\n%s\n", request->detail);
  const Question* question = questionFor(request->type);
  if (question == nullptr) {
    std::fflush(stdout);
    return MODULE_ANSWER_NONE;
  }
  std::FILE* input = uiRequestInput != nullptr ? uiRequestInput : stdin;
  // However long the operator took, the module was waiting on them, not
  // stuck: the command it belongs to is not given up for that time.
  struct Answered {
    ~Answered() { noteModuleProgress(); }
  } answered;
  for (;;) {
    std::fputs(question->text, stdout);
    std::fflush(stdout);
    const int initial = readWordInitial(input);
    if (initial == EOF) {
      // An unattended server has no one to ask: never spin or block on a
      // closed console.
      std::printf("\nUIRequestProc(): No console input; answered %s.\n",
                  question->withoutInputName);
      std::fflush(stdout);
      return question->withoutInput;
    }
    const int letter = std::toupper(initial);
    for (int i = 0; question->letters[i] != '\0'; ++i)
      if (question->letters[i] == letter) return question->answers[i];
  }
}
