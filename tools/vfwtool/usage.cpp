#include "tools/vfwtool/usage.h"

std::string_view UsageText() {
    return R"(usage: vfwtool COMMAND ...

Shows, checks and builds monitor firmware files: packages, images and backup records.

  vfwtool info FILE [--json]
      What the file is and what it holds: a table, or one JSON object.
  vfwtool check FILE
      Exit 0 when the file loads, else 1 with the fault on stderr.
  vfwtool create -o OUT --model NAME --version V
                 --set KEY --component TYPE=FILE[:SECONDS[:ATTRIBUTE]] ...
                 [--set KEY --component ... ...]
      A package: kind 16 with one set, kind 32 with several (at most 53).
      Each --component belongs to the --set before it, one per type.
  vfwtool image -o OUT --model NAME --type T --file F
                [--version-field X] [--seconds S] [--attribute A]
      An image file of one component.
  vfwtool extract FILE [--set KEY] --type T -o OUT
      A component's raw bytes. --set is needed for a package; for a backup
      record it names the attached set's key.
  vfwtool decrypt FILE -o OUT
      The decrypted payload of a file whose checksum is valid.

Values:
  V, KEY     25 decimal digits, the last field as in the file (stored form).
  X          5 decimal digits (default 00000).
  NAME       1 to 16 characters.
  TYPE, T    1 AIC653, 2 PRG000, 3 PRG001, 4 INP027, 5 AIC904, 6 setting list.
  FILE       in --component, ends at the first ':'; it must not be empty.
  SECONDS    0 to 65535 (default 0); ATTRIBUTE, A: 0 to 255 (default 0).
Options may stand before or after the command and FILE. They take their value
as the next argument or after '=' (-o also attached: -oOUT); long options are
spelled whole; "--" ends the options. Output files are replaced atomically.

Exit codes: 0 success, 1 a bad input file or an output that cannot be written,
2 a wrong command line.
)";
}
