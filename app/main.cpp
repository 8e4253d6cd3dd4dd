#include "app/Kelvo.h"

#include <sys/prctl.h>

int main(int argc, char **argv)
{
    // A password typed at the prompt stays in memory until kelvo ends: no core file may
    // carry it off, and no other process of the user may read it.
    prctl(PR_SET_DUMPABLE, 0);
    return KelvoMain(argc, argv);
}
