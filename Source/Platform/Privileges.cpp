#include "Privileges.h"

#include <unistd.h>

bool RunningAsAdministrator()
{
    return geteuid() == 0;
}
