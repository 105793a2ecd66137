// Diagnostics that need no system call.
#include "sysutil/sysutil.h"

int32_t no_operation()
{
    return 0;
}
