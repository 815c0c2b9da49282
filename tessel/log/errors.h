// The log module's error class.
#pragma once

#include "tessel/exception.h"

namespace tessel {
namespace log {

TESSEL_DECLARE_ERROR(generic, tessel::exception, "log");

}  // namespace log
}  // namespace tessel
