// What the calls of the C interface share: filling the error record, the limits in force, the
// check of a caller's image, library-owned memory, and the edge that no exception crosses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "pixeltools.h"

namespace pxt {

// Fills error (when given) with code, no system error or size, and the formatted message.
// Returns code.
pxt_status Fail(pxt_error* error, pxt_status code, const char* format, ...) __attribute__((format(printf, 3, 4)));

// The same with the platform's error number behind it.
pxt_status FailSystem(pxt_error* error, pxt_status code, int systemError, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Marks error (when given) as PXT_OK with an empty message. Returns PXT_OK.
pxt_status Succeed(pxt_error* error);

// The caller's limits, or the defaults for null.
pxt_limits LimitsOr(const pxt_limits* limits);

// Whether a caller's image can be read: pixels, a size of at least one pixel, and a stride of
// at least a row that does not overflow. Fails error with PXT_ERROR_ARGUMENT otherwise.
bool CheckImage(const pxt_image* image, const char* what, pxt_error* error);

// Bytes of a width x height image at 4 bytes a pixel; 0 when that does not fit a size_t.
std::size_t ImageBytes(std::uint64_t width, std::uint64_t height);

// Memory that the caller releases with pxt_free or pxt_image_free (std::free).
void* Allocate(std::size_t bytes);

// Runs the body of a call; memory that runs out inside it ends the call with
// PXT_ERROR_OUT_OF_MEMORY instead of leaving it as an exception.
template <typename Body>
pxt_status Guarded(pxt_error* error, Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Fail(error, PXT_ERROR_OUT_OF_MEMORY, "memory ran out");
  } catch (...) {
    // Only allocations throw in the code below the interface: a length error is one too.
    return Fail(error, PXT_ERROR_OUT_OF_MEMORY, "memory ran out");
  }
}

}  // namespace pxt
