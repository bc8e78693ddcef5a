// vok: extracts an audio fingerprint from a WAVE file.
#include <cstdio>

#include "cli/vok_program.h"

int main(int argc, char **argv)
{
    return Zuvanti::runProgram(argc, argv, stdout, stderr);
}
