// The registry module's error classes.
#pragma once

#include "tessel/exception.h"

namespace tessel {
namespace registry2 {

TESSEL_DECLARE_ERROR(generic, tessel::exception, "registry2");
TESSEL_DECLARE_ERROR(key_error, generic, "key_error");
TESSEL_DECLARE_ERROR(value_error, generic, "value_error");
TESSEL_DECLARE_ERROR(type_mismatch, generic, "type_mismatch");
TESSEL_DECLARE_ERROR(size_mismatch, generic, "size_mismatch");

}  // namespace registry2
}  // namespace tessel
