// An IPP file that uses the store below it, as it may.
#pragma once

#include "print_service/store/spool.h"
