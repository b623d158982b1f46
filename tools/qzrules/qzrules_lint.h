#ifndef QZRULES_LINT_H
#define QZRULES_LINT_H

/*
 * Rule-file checks for rule writers: every line the engine's loader would
 * skip, cut or never use, with its line number and the reason.
 *
 * The checks run the engine's own parser (qz_behavior_define) over each rule
 * text, so "dropped" always means what the engine does; the reasons and the
 * cross-rule checks (undefined variables, shadowed rules) are worked out
 * here from the texts and from the records the engine built.
 */

#include <string>
#include <vector>

/* One finding: physical line number (from 1) and reason. */
struct qzrules_finding {
  size_t line;
  std::string reason;
};

/* How the input's lines are to be read. */
enum class qzrules_input_form { automatic, plain, enciphered };

/* A plain line is a blank line or a comment ("#" first after leading white
 * space); such lines are skipped by encrypt and by the plain-form lint. */
bool qzrules_is_plain_filler(const std::string& line);

/* Guesses the form of a file: plain when some line is a comment or begins
 * with "define_", enciphered otherwise. */
qzrules_input_form qzrules_guess_form(const std::vector<std::string>& lines);

/* Splits file contents into lines at LF; a CR before the LF stays on the
 * line (the loader's reading treats it specially). A last line without its
 * end is kept. */
std::vector<std::string> qzrules_split_lines(const std::string& contents);

/* Reads a whole file. False, with why set to the reason, when it cannot be
 * opened or read to its end (a directory, for one, cannot be read). */
bool qzrules_read_file(const std::string& path, std::string& contents, std::string& why);

/* Enciphers one plain rule text (without its line end) into the line the
 * engine loads. False, with why set to the reason, when the text holds a
 * zero byte, is longer than the loader can read or cannot be enciphered. */
bool qzrules_encipher_line(const std::string& text, std::string& line, std::string& why);

/* What the engine's loader keeps of an enciphered rule file. */
struct qzrules_load_summary {
  unsigned long rules = 0;     /* records of all four kinds */
  unsigned long detecting = 0; /* of those, the kinds that score: all but define_var */
  std::vector<size_t> dropped; /* lines, ascending, neither blank nor giving a record */
};

/* Loads an enciphered rule file's contents line by line as the engine does
 * and counts what it keeps. Uses and then empties the engine's rule tables. */
qzrules_load_summary qzrules_check_load(const std::string& contents);

/* Checks every line of a file's contents and returns the findings in line
 * order. Uses and then empties the engine's rule tables. */
std::vector<qzrules_finding> qzrules_lint(const std::string& contents, qzrules_input_form form);

#endif
