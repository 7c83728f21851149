// The console messages, the closing prompt, the ends of a run, and the fatal report: what went
// wrong for the user, what the run already changed and what to do, then the details.
#include "run/reports.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "text/text_diagnosis.h"

namespace corvandel {
namespace {

constexpr int kExitReported = 1;
constexpr int kExitFatal = 101;

// The lists that this run replaced, in turn, and where their previous versions are.
struct Replaced {
  std::string list, backup;
};
std::vector<Replaced> replaced_lists;

[[noreturn]] void fail_printing(std::string_view stream, const Error& error,
                                std::source_location where) {
  fatal_failure(error, Doing::printing, stream, where);
}

// What was being done, as the details say it: "reading /lists/DicLists/master.txt".
std::string what_was_done(Doing doing, const std::string& subject) {
  switch (doing) {
    case Doing::reading:
      return "reading " + subject;
    case Doing::creating:
      return "creating " + subject;
    case Doing::writing:
      return "writing " + subject;
    case Doing::replacing:
      return "replacing " + subject;
    case Doing::printing:
      return "failed printing to " + subject;
    case Doing::reading_clock:
      break;
  }
  return "reading the local time";
}

// Why the system refused, in a user's words.
std::string reason(const Error& error) {
  if (platform().system_error_cause(error.code) == SystemErrorCause::held_by_another_program) {
    return "another program has it open";
  }
  switch (error.kind) {
    case ErrorKind::not_found:
      return "it is not there";
    case ErrorKind::permission_denied:
      return "access to it was denied";
    case ErrorKind::already_exists:
      return "a file of that name is in the way";
    case ErrorKind::is_a_directory:
      return "it is a folder, not a file";
    case ErrorKind::not_a_regular_file:
      return "it is not a regular file";
    case ErrorKind::storage_full:
      return "the disk is full";
    case ErrorKind::out_of_memory:
      return "memory ran out";
    case ErrorKind::broken_pipe:
      return "nothing reads it any more";
    case ErrorKind::changed_meanwhile:
      return error.text;
    default:
      return "the system reported \"" + error.text + "\"";
  }
}

// What a user can do about `error` met while `doing`; "" when the report has said it already.
std::string_view remedy(const Error& error, Doing doing) {
  if (doing == Doing::printing) {
    return "Run the update again with its output going to a console or to a file that can be "
           "written.";
  }
  if (doing == Doing::reading_clock) {
    return "Check the system's date, time and time zone, then run the update again.";
  }
  switch (platform().system_error_cause(error.code)) {
    case SystemErrorCause::held_by_another_program:
      return "Close the program that has it open (an editor, a spreadsheet, a sync or backup "
             "tool) and run the update again.";
    case SystemErrorCause::device_failed:
      return "Check the disk or device that holds it (the system reported a device error), then "
             "run the update again.";
    case SystemErrorCause::none:
      break;
  }
  switch (error.kind) {
    case ErrorKind::not_found:
      return "Put the file back in its place and run the update again.";
    case ErrorKind::permission_denied:
      return "Make sure that you may read and change it and its folder, then run the update "
             "again.";
    case ErrorKind::already_exists:
      return "Move what stands at that name out of the way and run the update again.";
    case ErrorKind::is_a_directory:
    case ErrorKind::not_a_regular_file:
      return "Put a text file in its place and run the update again.";
    case ErrorKind::storage_full:
      return "Free some space on the disk and run the update again.";
    case ErrorKind::out_of_memory:
      return "Close other programs to free memory and run the update again.";
    case ErrorKind::changed_meanwhile:
      return "";
    default:
      return "Look into the system's error in the details below, then run the update again.";
  }
}

// What went wrong, naming the file; what seems to have caused it, if the report can tell; and
// what to do about it, unless what went wrong says so.
struct Advice {
  std::string problem, cause, to_do;
};

// What failed, as the user's sentence begins.
std::string what_failed(Doing doing, const std::string& subject) {
  switch (doing) {
    case Doing::reading:
      return subject + " could not be read";
    case Doing::creating:
      return "The new list " + subject + " could not be created";
    case Doing::writing:
      return "The new list " + subject + " could not be written";
    case Doing::replacing:
      return subject + " could not be replaced";
    case Doing::printing:
      return "The messages could not be written to " + subject;
    case Doing::reading_clock:
      break;
  }
  return "The local time could not be read";
}

// A file that is not UTF-8 text, read a second time to tell where and why.
Advice invalid_text_advice(const std::string& path) {
  Advice advice{path + " is not UTF-8 text", "", "Save it as UTF-8"};
  const Result<FileData> again = platform().read_file(path);
  const std::optional<unicode::TextFlaw> flaw =
      again ? unicode::find_text_flaw(again.value().view()) : std::nullopt;
  if (flaw) {
    advice.problem += ": at line " + std::to_string(flaw->line) + ", column " +
                      std::to_string(flaw->column) + " (byte offset " +
                      std::to_string(flaw->offset) + ") it holds the byte" +
                      (flaw->bytes.size() > 2 ? "s " : " ") + flaw->bytes + ", " + flaw->what;
    advice.cause = flaw->cause;
    if (flaw->other_encoding) advice.to_do += " (in Notepad: File, Save As, Encoding: UTF-8)";
  }
  advice.to_do += " and run the update again.";
  return advice;
}

Advice advice(const Error& error, Doing doing, const std::string& subject) {
  if (doing == Doing::reading && error.kind == ErrorKind::invalid_data && !error.has_os_code()) {
    return invalid_text_advice(subject);
  }
  return {what_failed(doing, subject) + ": " + reason(error), "",
          std::string(remedy(error, doing))};
}

// What this run changed before it failed.
std::string what_was_changed() {
  if (replaced_lists.empty()) return "This run changed no list.";
  std::string text = "This run already updated ";
  for (const Replaced& replaced : replaced_lists) {
    if (&replaced != &replaced_lists.front()) text += " and ";
    text += replaced.list + " (its previous version is " + replaced.backup + ")";
  }
  return text + "; running the update again completes the update.";
}

}  // namespace

void print_stdout(std::string_view text) {
  if (Result<void> written = platform().write_stdout(text); !written) {
    fail_printing("stdout", written.error(), std::source_location::current());
  }
}

void print_stderr(std::string_view text) {
  if (Result<void> written = platform().write_stderr(text); !written) {
    fail_printing("stderr", written.error(), std::source_location::current());
  }
}

// Standard output is written unbuffered, a whole message at a time, so there is nothing to flush
// before the prompt. Only a failed write of the prompt is reported.
void closing_prompt() {
  print_stdout("\nPress Enter to exit...\n");
  [[maybe_unused]] Result<void> read = platform().read_stdin_line();
}

void exit_with(int status) {
  platform().exit_process(status);
  std::abort();  // a platform that returns from exit_process is a defect
}

void pause_and_exit() {
  closing_prompt();
  exit_with(kExitReported);
}

void note_replaced(const std::string& list, const std::string& backup) {
  replaced_lists.push_back({list, backup});
}

void forget_replaced() {
  replaced_lists.clear();
}

void fatal_failure(const Error& error, Doing doing, std::string_view subject,
                   std::source_location where) {
  const std::string about(subject);
  const Advice told = advice(error, doing, about);
  std::string report = "corvandel: " + told.problem + ".\n";
  for (const std::string& line : {told.cause, what_was_changed(), told.to_do}) {
    if (!line.empty()) report += line + "\n";
  }
  report += "details: fatal error at " + std::string(file_name_of(where.file_name())) + ":" +
            std::to_string(where.line()) + ": " + what_was_done(doing, about) + ": " + error.text +
            " [kind: " + error_kind_name(error.kind);
  if (error.has_os_code()) report += ", os error code: " + std::to_string(error.code);
  report += "]\n";
  // Nothing is left to tell if standard error fails too.
  [[maybe_unused]] Result<void> written = platform().write_stderr(report);
  exit_with(kExitFatal);
}

}  // namespace corvandel
