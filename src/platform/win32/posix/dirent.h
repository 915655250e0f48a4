#pragma once
#include "posix_win32.h"
