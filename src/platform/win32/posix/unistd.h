#pragma once
#include_next <unistd.h>
#include "posix_win32.h"
