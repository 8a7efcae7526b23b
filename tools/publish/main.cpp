#include <stdio.h>

#include "tools/publish/Commands.h"
#include "tools/publish/Publish.h"

int main(int argc, char** argv) {
    // "manifest -o -" writes CR LF line ends byte for byte.
    useBinaryOutput(stdout);
    return runPublish(argc, argv, stdout, stderr);
}
