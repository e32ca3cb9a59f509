# The run-time settings of the sanitizer build, sourced by test.sh and
# fuzz.sh. Every finding ends the program with an error (the build also uses
# -fno-sanitize-recover=all). LeakSanitizer is on; the leaks it reports from
# the system's libraries are suppressed in lsan.supp, never those of the
# program's own code.
SANITIZER_SCRIPTS="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$SANITIZER_SCRIPTS/lsan.supp:print_suppressions=0"
