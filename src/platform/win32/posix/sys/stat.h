#pragma once
#include_next <sys/stat.h>
#include "../posix_win32.h"
