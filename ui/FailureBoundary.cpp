#include "ui/FailureBoundary.h"

#include "sounds/resource_loader.h"

#include <cstdio>
#include <stdexcept>
#include <string>

namespace lyravox::ui {
namespace {

struct Diagnosis {
    std::string cause;
    AfterFailure after;
};

Diagnosis diagnose(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const sounds::ResourceNotFound& e) {
        return {e.what(), AfterFailure::EndProgram};
    } catch (const std::logic_error& e) {
        return {e.what(), AfterFailure::EndProgram};
    } catch (const std::exception& e) {
        return {e.what(), AfterFailure::GoOn};
    } catch (...) {
        return {"an exception of unknown type", AfterFailure::EndProgram};
    }
}

}  // namespace

AfterFailure reportFailure(std::string_view action, std::exception_ptr failure) noexcept {
    AfterFailure after = AfterFailure::EndProgram;
    try {
        const Diagnosis diagnosis = diagnose(failure);
        after = diagnosis.after;
        const char* consequence = after == AfterFailure::EndProgram
                                          ? "this is a fault in Lyravox, which ends now"
                                          : "Lyravox goes on";
        std::fprintf(stderr, "lyravox: %.*s failed: %s; %s\n", static_cast<int>(action.size()),
                     action.data(), diagnosis.cause.c_str(), consequence);
    } catch (...) {
        // Not even the message could be made (no memory left): end without it.
        std::fputs("lyravox: a handler failed and the failure could not be described\n", stderr);
    }
    return after;
}

}  // namespace lyravox::ui
