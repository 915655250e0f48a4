#pragma once
#include_next <sys/file.h>
#include "../posix_win32.h"
