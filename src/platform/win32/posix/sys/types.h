#pragma once
#include_next <sys/types.h>
#include "../posix_types.h"
