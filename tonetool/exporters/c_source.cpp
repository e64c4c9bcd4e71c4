// Tone records as C source for firmware.
#include "c_source.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "note_lookup.h"

namespace {

// C23's keywords with C++'s, sorted.
constexpr std::string_view keywords[] = {
    "_Alignas", "_Alignof", "_Atomic", "_BitInt", "_Bool", "_Complex", "_Decimal128", "_Decimal32",
    "_Decimal64", "_Generic", "_Imaginary", "_Noreturn", "_Static_assert", "_Thread_local",
    "alignas", "alignof", "and", "and_eq", "asm", "auto", "bitand", "bitor", "bool", "break",
    "case", "catch", "char", "char16_t", "char32_t", "char8_t", "class", "co_await", "co_return",
    "co_yield", "compl", "concept", "const", "const_cast", "consteval", "constexpr", "constinit",
    "continue", "decltype", "default", "delete", "do", "double", "dynamic_cast", "else", "enum",
    "explicit", "export", "extern", "false", "float", "for", "friend", "goto", "if", "inline",
    "int", "long", "mutable", "namespace", "new", "noexcept", "not", "not_eq", "nullptr",
    "operator", "or", "or_eq", "private", "protected", "public", "register", "reinterpret_cast",
    "requires", "restrict", "return", "short", "signed", "sizeof", "static", "static_assert",
    "static_cast", "struct", "switch", "template", "this", "thread_local", "throw", "true", "try",
    "typedef", "typeid", "typename", "typeof", "typeof_unqual", "union", "unsigned", "using",
    "virtual", "void", "volatile", "wchar_t", "while", "xor", "xor_eq"};
static_assert(std::is_sorted(std::begin(keywords), std::end(keywords)));

// Names of the C standard library and of POSIX that a firmware or its host
// may link or include: an array of that name would take their place (a
// host calling time() would jump into the melody). Sorted.
constexpr std::string_view library_names[] = {
    "_Exit", "abort", "abs", "accept", "access", "acos", "alarm", "aligned_alloc", "asctime", "asin",
    "assert", "at_quick_exit", "atan", "atan2", "atexit", "atof", "atoi", "atol", "atoll", "bcopy", "bind",
    "brk", "bsearch", "bzero", "calloc", "cbrt", "ceil", "chdir", "chmod", "chown", "clearerr", "clock",
    "close", "connect", "copysign", "cos", "cosh", "creat", "ctime", "difftime", "div", "dup", "dup2",
    "environ", "erf", "erfc", "errno", "execl", "execle", "execlp", "execv", "execve", "execvp", "exit",
    "exp", "exp2", "expm1", "fabs", "fclose", "fcntl", "fdim", "feof", "ferror", "fflush", "fgetc",
    "fgetpos", "fgets", "floor", "fma", "fmax", "fmin", "fmod", "fopen", "fork", "fprintf", "fputc",
    "fputs", "fread", "free", "freopen", "frexp", "fscanf", "fseek", "fsetpos", "fstat", "fsync", "ftell",
    "fwrite", "getc", "getchar", "getcwd", "getenv", "getopt", "getpid", "getppid", "gets", "gmtime",
    "hypot", "index", "ioctl", "isalnum", "isalpha", "isatty", "isblank", "iscntrl", "isdigit", "isgraph",
    "islower", "isprint", "ispunct", "isspace", "isupper", "isxdigit", "kill", "labs", "ldexp", "ldiv",
    "lgamma", "link", "listen", "llabs", "lldiv", "llrint", "llround", "localeconv", "localtime", "log",
    "log10", "log1p", "log2", "logb", "longjmp", "lrint", "lround", "lseek", "lstat", "main", "malloc",
    "mblen", "mbstowcs", "mbtowc", "memchr", "memcmp", "memcpy", "memmove", "memset", "mkdir", "mktime",
    "mmap", "modf", "munmap", "nan", "nearbyint", "nextafter", "nexttoward", "nice", "open", "optarg",
    "opterr", "optind", "pause", "perror", "pipe", "poll", "pow", "printf", "putc", "putchar", "puts",
    "qsort", "quick_exit", "raise", "rand", "random", "read", "realloc", "recv", "remainder", "remove",
    "remquo", "rename", "rewind", "rindex", "rint", "rmdir", "round", "sbrk", "scalbln", "scalbn", "scanf",
    "select", "send", "setbuf", "setjmp", "setlocale", "setvbuf", "signal", "sin", "sinh", "sleep",
    "snprintf", "socket", "sprintf", "sqrt", "srand", "srandom", "sscanf", "stat", "stderr", "stdin",
    "stdout", "strcat", "strchr", "strcmp", "strcoll", "strcpy", "strcspn", "strdup", "strerror",
    "strftime", "strlen", "strncat", "strncmp", "strncpy", "strndup", "strpbrk", "strrchr", "strspn",
    "strstr", "strtod", "strtof", "strtok", "strtol", "strtold", "strtoll", "strtoul", "strtoull",
    "strxfrm", "sync", "system", "tan", "tanh", "tgamma", "time", "timespec_get", "tmpfile", "tmpnam",
    "tolower", "toupper", "trunc", "umask", "ungetc", "unlink", "usleep", "vfprintf", "vfscanf", "vprintf",
    "vscanf", "vsnprintf", "vsprintf", "vsscanf", "wait", "waitpid", "wcstombs", "wctomb", "write"};
static_assert(std::is_sorted(std::begin(library_names), std::end(library_names)));

// Types, macros and functions of <stddef.h>, <stdint.h>, <stdio.h> and
// <math.h> (with POSIX's additions) beyond the names above: a host that
// includes one of them and the array's declaration would not compile.
// Sorted.
constexpr std::string_view header_names[] = {
    "BUFSIZ", "EOF", "FILE", "FILENAME_MAX", "FOPEN_MAX", "FP_FAST_FMA", "FP_ILOGB0", "FP_ILOGBNAN",
    "FP_INFINITE", "FP_NAN", "FP_NORMAL", "FP_SUBNORMAL", "FP_ZERO", "HUGE_VAL", "HUGE_VALF", "HUGE_VALL",
    "INFINITY", "L_ctermid", "L_tmpnam", "MATH_ERREXCEPT", "MATH_ERRNO", "MAXFLOAT", "M_1_PI", "M_2_PI",
    "M_2_SQRTPI", "M_E", "M_LN10", "M_LN2", "M_LOG10E", "M_LOG2E", "M_PI", "M_PI_2", "M_PI_4", "M_SQRT1_2",
    "M_SQRT2", "NAN", "NULL", "PTRDIFF_MAX", "PTRDIFF_MIN", "P_tmpdir", "SEEK_CUR", "SEEK_END", "SEEK_SET",
    "SIG_ATOMIC_MAX", "SIG_ATOMIC_MIN", "SIZE_MAX", "TMP_MAX", "WCHAR_MAX", "WCHAR_MIN", "WINT_MAX",
    "WINT_MIN", "ctermid", "double_t", "dprintf", "fdopen", "fileno", "float_t", "flockfile", "fmemopen",
    "fpclassify", "fpos_t", "fseeko", "ftello", "funlockfile", "getc_unlocked", "getchar_unlocked",
    "getdelim", "getline", "ilogb", "isfinite", "isgreater", "isgreaterequal", "isinf", "isless",
    "islessequal", "islessgreater", "isnan", "isnormal", "isunordered", "j0", "j1", "jn", "math_errhandling",
    "max_align_t", "nullptr_t", "off_t", "offsetof", "open_memstream", "pclose", "popen", "ptrdiff_t",
    "putc_unlocked", "putchar_unlocked", "renameat", "signbit", "signgam", "size_t", "ssize_t", "tempnam",
    "unreachable", "va_list", "vdprintf", "y0", "y1", "yn"};
static_assert(std::is_sorted(std::begin(header_names), std::end(header_names)));

// <math.h>'s functions, each also with 'f' (float) and 'l' (long double)
// after it. Sorted.
constexpr std::string_view math_functions[] = {
    "acos", "acosh", "asin", "asinh", "atan", "atan2", "atanh", "cbrt", "ceil", "copysign", "cos", "cosh",
    "erf", "erfc", "exp", "exp2", "expm1", "fabs", "fdim", "floor", "fma", "fmax", "fmin", "fmod", "frexp",
    "hypot", "ilogb", "ldexp", "lgamma", "llrint", "llround", "log", "log10", "log1p", "log2", "logb",
    "lrint", "lround", "modf", "nan", "nearbyint", "nextafter", "nexttoward", "pow", "remainder", "remquo",
    "rint", "round", "scalbln", "scalbn", "sin", "sinh", "sqrt", "tan", "tanh", "tgamma", "trunc"};
static_assert(std::is_sorted(std::begin(math_functions), std::end(math_functions)));

bool is_digit(char c);

// <stdint.h>'s families: [u]int[_least|_fast]N_t, [u]intptr_t, [u]intmax_t
// and their limits and constant macros (INT8_MAX, UINT64_C, INTMAX_MIN ...).
bool is_stdint_name(std::string_view name) {
  std::string_view rest = name;
  const auto take = [&rest](std::string_view prefix) {
    if (rest.substr(0, prefix.size()) != prefix) return false;
    rest.remove_prefix(prefix.size());
    return true;
  };
  const bool upper = take("UINT") || take("INT");
  if (!upper && !take("uint") && !take("int")) return false;
  if (upper ? (take("PTR") || take("MAX")) : (take("ptr") || take("max"))) {
    return upper ? rest == "_MAX" || rest == "_MIN" || rest == "_C" : rest == "_t";
  }
  if (!upper) take("_least") || take("_fast");
  else take("_LEAST") || take("_FAST");
  if (rest.empty() || !is_digit(rest[0])) return false;
  while (!rest.empty() && is_digit(rest[0])) rest.remove_prefix(1);
  return upper ? rest == "_MAX" || rest == "_MIN" || rest == "_C" : rest == "_t";
}

bool is_header_name(std::string_view name) {
  if (std::binary_search(std::begin(header_names), std::end(header_names), name) || is_stdint_name(name)) {
    return true;
  }
  if (std::binary_search(std::begin(math_functions), std::end(math_functions), name)) return true;
  const char last = name.back();
  return (last == 'f' || last == 'l') &&
         std::binary_search(std::begin(math_functions), std::end(math_functions), name.substr(0, name.size() - 1));
}

bool ends_with(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
}

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool is_c_identifier(std::string_view name) {
  if (name.empty() || !is_letter(name[0])) return false;
  if (!std::all_of(name.begin(), name.end(), [](char c) { return is_letter(c) || is_digit(c); })) return false;
  return !std::binary_search(std::begin(keywords), std::end(keywords), name);
}

std::string c_name_problem(std::string_view name) {
  if (!is_c_identifier(name)) {
    return "a C identifier: letters, digits and '_', not first a digit, no keyword";
  }
  if (std::binary_search(std::begin(library_names), std::end(library_names), name)) {
    return "a name of the C library or POSIX, which the program linking the array may use";
  }
  if (is_header_name(name)) {
    return "a name that <stddef.h>, <stdint.h>, <stdio.h> or <math.h> defines, which a host including them "
           "could not compile with";
  }
  if (name.substr(0, 2) == "__" || (name[0] == '_' && name.size() > 1 && name[1] >= 'A' && name[1] <= 'Z')) {
    return "reserved for the C implementation: it starts with __ or _ and a capital";
  }
  if (ends_with(name, "_length") || ends_with(name, "_records")) {
    return "it ends in _length or _records, as the symbols of another array do";
  }
  return "";
}

std::string c_name_for_file(const std::string &path) {
  std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  name = name.substr(0, name.find('.'));
  std::replace(name.begin(), name.end(), '-', '_');
  std::replace(name.begin(), name.end(), ' ', '_');
  return is_c_identifier(name) ? name : "";
}

std::string c_source(const std::vector<tone> &tones, const std::string &name,
                     const std::string &source) {
  std::string out;
  char line[160];
  out += "/* " + name + ": " + std::to_string(tones.size()) +
         (tones.size() == 1 ? " tone record" : " tone records") + " from " + source +
         ", written by tonetool c.\n"
         "   A record is the period of a 1.5 MHz clock, high byte first, then the\n"
         "   duration in units; period 0 is a pause. */\n";
  // C has no empty arrays: an empty melody keeps one unused byte, and the
  // length says 0.
  // The extern declarations give the constants external linkage in C++
  // too, where a const object is otherwise private to its file.
  out += "extern const unsigned char " + name + "[];\n";
  // Lengths are at least 32 bits wide: on 16-bit targets an int would
  // wrap past 65535 bytes.
  out += "extern const unsigned long " + name + "_length, " + name + "_records;\n\n";
  out += "const unsigned char " + name + "[] = {\n";
  if (tones.empty()) out += "    0 /* no records */\n";
  for (std::size_t i = 0; i < tones.size(); ++i) {
    const tone &t = tones[i];
    std::string note = note_for_period(t.period);
    if (note.empty()) note = nearest_note(tone_frequency(t));
    std::snprintf(line, sizeof line, "    0x%02X, 0x%02X, 0x%02X, /* %6zu  %-16s %3u %s */\n",
                  static_cast<unsigned>(t.period >> 8), static_cast<unsigned>(t.period & 0xFF),
                  static_cast<unsigned>(t.duration), i, note.c_str(),
                  static_cast<unsigned>(t.duration), t.duration == 1 ? "unit " : "units");
    out += line;
  }
  out += "};\n";
  out += "const unsigned long " + name + "_length = " + std::to_string(3 * tones.size()) + "; /* bytes */\n";
  out += "const unsigned long " + name + "_records = " + std::to_string(tones.size()) + ";\n";
  return out;
}
