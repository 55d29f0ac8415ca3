#include "common/system_failure.h"

#include <system_error>
#include <utility>

namespace {

// Outside any object and per thread on purpose, like errno (see the header).
thread_local std::optional<SystemFailure> t_failure;

}  // namespace

// The C library's text for the errno value, without strerror's shared buffer.
std::string SystemFailure::Text() const { return operation + ": " + std::generic_category().message(error); }

void NoteSystemFailure(std::string operation, int error) { t_failure = SystemFailure{std::move(operation), error}; }

void ClearSystemFailure() { t_failure.reset(); }

std::optional<SystemFailure> TakeSystemFailure() { return std::exchange(t_failure, std::nullopt); }
