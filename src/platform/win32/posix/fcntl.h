#pragma once
#include_next <fcntl.h>
#include "posix_win32.h"
