// melodyc: compiles a melody text on standard input into tone records on
// standard output. Takes no arguments.
#include <cstdio>

#include "compiler.h"

int main() {
  compile_melody(stdin, stdout);
  return 0;
}
