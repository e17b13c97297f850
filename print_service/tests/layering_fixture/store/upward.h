// A store file that uses the IPP side above it: the layering check must refuse this tree.
#pragma once

#include "print_service/ipp/ipp_job_queue.h"
