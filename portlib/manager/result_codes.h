#pragma once
// The library's result codes live in shared/result_codes.h (the console
// program uses them too); this name stays for code written against it.
#include "shared/result_codes.h"
