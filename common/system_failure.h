#pragma once
// Why a system call failed, kept until the failure is reported.
//
// The layers return status codes, which cannot say that an ioctl failed with
// EIO or a rename with EISDIR, and their Mon…/Pkg… signatures stay as they
// are. So the site of a failing system call notes the call and its errno here,
// and the code that turns the status into a message takes the note and prints it.
//
// Kept per thread on purpose, like errno itself, rather than in an object that
// every layer would have to pass along: the thread that made the failing call
// is the one that returns the failure and reports it, or hands the note over
// with its result (a worker thread). Another thread's failures never mix in.
//
// Each operation that notes its failures forgets the earlier note as it starts,
// so the note tells about the latest of them: a failure that was retried or
// stepped over (a device that answered the next request, a node this user may
// not open among the ones enumerated) is not taken for the cause of a later status.
#include <optional>
#include <string>

struct SystemFailure {
    std::string operation;  // the call and what it was made on: "HIDIOCSFEATURE /dev/hidraw3"
    int error = 0;          // the errno value
    // "HIDIOCSFEATURE /dev/hidraw3: Input/output error"
    std::string Text() const;
    bool operator==(const SystemFailure&) const = default;
};

// Notes a failed call on this thread, in place of an earlier note.
void NoteSystemFailure(std::string operation, int error);
// Forgets this thread's note: a noting operation starts.
void ClearSystemFailure();
// This thread's note, handed out once: afterwards there is none until the next.
std::optional<SystemFailure> TakeSystemFailure();
