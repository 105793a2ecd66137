// splice_bench: runs the updater's splice, the very code that the program
// runs on the installed archive, on two files named on the command line.
//
//   splice_bench ARCHIVE UPDATE_DATA
//
// ARCHIVE must be a 1.00 archive; it is rewritten in place into 1.01.
// Exit code 0 when the splice reports success, 1 otherwise, 64 on a usage
// error.
#include "updater/updater.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: splice_bench ARCHIVE UPDATE_DATA\n");
        return 64;
    }
    const SpliceResult result = splice_files(argv[1], argv[2], UPDATE_SPLICE_LAYOUT, "").result;
    if (result != SPLICE_DONE) {
        fprintf(stderr, "splice_bench: the splice failed with result %d\n",
                static_cast<int>(result));
        return 1;
    }
    return 0;
}
