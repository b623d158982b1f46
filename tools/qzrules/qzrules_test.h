#ifndef QZRULES_TEST_H
#define QZRULES_TEST_H

/*
 * `qzrules test`: measures a rule file on directories of known malicious and
 * known benign scripts. Each directory is scanned by the qzscan binary with
 * its JSON report (so the verdicts are exactly qzscan's, under the same
 * engine options), and the reports are summed per top-level subdirectory:
 * detection and threat rates on the malicious side, the false-positive rate
 * on the benign side, then the missed and the wrongly flagged files with the
 * calls qzscan reported for them.
 */

#include <optional>
#include <string>
#include <vector>

struct qzrules_test_options {
  std::string rules;  // enciphered or plain (plain is enciphered to a temporary file)
  std::vector<std::string> malicious, benign;  // directories
  /* Percentages from 0 to 100 that make the run fail when not met. */
  std::optional<double> min_detection, min_threat, max_fp;
  bool json = false;           // one JSON document instead of tables
  bool no_extensions = false;  // handed on to qzscan
  unsigned jobs = 0;           // qzscan's worker processes; 0: qzscan's default
  std::string qzscan;          // the qzscan binary to run; a name without "/" is looked up in PATH
};

/* Runs the measurement and prints the report on standard output, problems
 * on standard error ("qzrules: ..."). Returns the exit status: 0 when every
 * threshold was met, 1 when one was not, 2 on a usage or I/O error (a rule
 * file that cannot be read or holds no rule that scores, a path that is no
 * directory, a qzscan that cannot be run or gives no report). */
int qzrules_test(const qzrules_test_options& options);

#endif
