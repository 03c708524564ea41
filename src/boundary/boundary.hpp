// The boundary of the phase layer: every exported pk_ function runs its body
// through `guarded`, which turns any exception into a status and a message in
// the caller's pk_error, so nothing throws across the C interface. Inside,
// failures are raised as pk::Failure with their status code.
#ifndef POWDERKIT_PHASE_BOUNDARY_HPP
#define POWDERKIT_PHASE_BOUNDARY_HPP

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "powderkit_phase.h"

namespace powderkit::phase {

// The shortest text that reads back as `value`, for messages.
inline std::string shortest(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// A failure with its pk_ status code and a message naming what was wrong.
class Failure : public std::runtime_error {
public:
    Failure(int32_t code, const std::string &message)
        : std::runtime_error(message), code_(code) {}
    int32_t code() const noexcept { return code_; }

private:
    int32_t code_;
};

[[noreturn]] inline void fail(int32_t code, const std::string &message) {
    throw Failure(code, message);
}

// Throws std::bad_alloc when a core make function returned NULL.
template <typename T>
T *checked(T *made) {
    if (made == nullptr) throw std::bad_alloc();
    return made;
}

// Writes code and message into `error` (when not NULL), cut to fit.
inline void report(pk_error *error, int32_t code, const char *message) noexcept {
    if (error == nullptr) return;
    error->code = code;
    std::snprintf(error->message, sizeof error->message, "%s", message);
}

// Runs `body` (returning nothing); PK_OK or the failure's status.
template <typename Body>
int32_t guarded(pk_error *error, Body &&body) noexcept {
    try {
        body();
        report(error, PK_OK, "");
        return PK_OK;
    } catch (const Failure &failure) {
        report(error, failure.code(), failure.what());
        return failure.code();
    } catch (const std::bad_alloc &) {
        report(error, PK_ERROR_OUT_OF_MEMORY, "out of memory");
        return PK_ERROR_OUT_OF_MEMORY;
    } catch (const std::exception &other) {
        report(error, PK_ERROR_INTERNAL, other.what());
        return PK_ERROR_INTERNAL;
    } catch (...) {
        report(error, PK_ERROR_INTERNAL, "unexpected failure");
        return PK_ERROR_INTERNAL;
    }
}

// Fails with PK_ERROR_ARGUMENT naming `what` when `pointer` is NULL.
inline void requireArgument(const void *pointer, const char *what) {
    if (pointer == nullptr) fail(PK_ERROR_ARGUMENT, std::string(what) + " is NULL");
}

// Fails with PK_ERROR_ARGUMENT when a caller's array of `capacity` values
// cannot hold the `needed` ones.
inline void requireCapacity(int32_t capacity, std::size_t needed) {
    if (capacity < 0 || static_cast<std::size_t>(capacity) < needed) {
        fail(PK_ERROR_ARGUMENT, "the array holds " + std::to_string(capacity) + " values where " +
                                    std::to_string(needed) + " are needed");
    }
}

// Copies `content` and its NUL into the caller's text[capacity]; *size, when
// not NULL, receives the bytes needed, NUL included, also when the buffer is
// too small (which fails with PK_ERROR_ARGUMENT).
inline void copyText(const std::string &content, char *text, int32_t capacity, int32_t *size) {
    const auto needed = static_cast<int32_t>(content.size() + 1);
    if (size != nullptr) *size = needed;
    if (capacity < needed) {
        fail(PK_ERROR_ARGUMENT,
             "the text needs " + std::to_string(needed) + " bytes; the buffer holds " + std::to_string(capacity));
    }
    requireArgument(text, "text");
    std::memcpy(text, content.c_str(), content.size() + 1);
}

// The index as a position in a container of `count` entries; fails with
// PK_ERROR_ARGUMENT ("site index 7 is out of range") unless 0 ≤ index < count.
inline std::size_t requireIndex(int32_t index, std::size_t count, const char *what) {
    if (index < 0 || static_cast<std::size_t>(index) >= count) {
        fail(PK_ERROR_ARGUMENT, std::string(what) + " index " + std::to_string(index) + " is out of range");
    }
    return static_cast<std::size_t>(index);
}

// Copies `values` into the caller's out[capacity] (checked first);
// *written, when not NULL, receives how many.
template <typename Values>
void copyOut(const Values &values, double *out, int32_t capacity, int32_t *written, const char *what) {
    requireCapacity(capacity, values.size());
    if (!values.empty()) requireArgument(out, what);
    std::copy(values.begin(), values.end(), out);
    if (written != nullptr) *written = static_cast<int32_t>(values.size());
}

// Whether a profile takes the axial divergence (S/L + H/L above 0). It
// replaces the asymmetry P: a profile with both is refused, with this reason.
inline bool hasAxialDivergence(const pk_profile &profile) { return profile.axial_sl + profile.axial_hl > 0.0; }
constexpr const char *kBothAsymmetries =
    "an axial divergence (axial_sl, axial_hl) and an asymmetry P above 0 describe the same asymmetry: give one, "
    "and set the other to 0";

}  // namespace powderkit::phase

#endif
