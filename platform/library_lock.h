// One lock per library: every export of libtarvik.so and libselvane.so
// holds it for the whole call, so calls from several threads run one at a
// time and never interleave their commands or mix their texts. Each
// library links its own copy of this unit, hence its own lock. No lock is
// held once an export has returned.
//
// Recursive: an export may call another export of its library on its own
// thread (the BASIC face calls the flat API; selvane's visitors read calls
// tarvik's exchange from inside tarvik_with_card).
// Never destroyed: calls made while the process exits still find it.
//
// Fork: no prepare handler, so a fork never waits for a call of another
// thread. The child gets a fresh lock (the inherited one may be held by a
// thread the child does not have), and its first call, under that lock,
// runs what the library set with forget_inherited_state_with.
#ifndef KIT_PLATFORM_LIBRARY_LOCK_H
#define KIT_PLATFORM_LIBRARY_LOCK_H

namespace kit {

class LibraryCall {
public:
    LibraryCall() noexcept;
    ~LibraryCall();
    LibraryCall(const LibraryCall&) = delete;
    LibraryCall& operator=(const LibraryCall&) = delete;
};

// Counts the outermost calls made so far (an export called from inside
// another one of the same library counts with it), so that the code under
// the lock can tell one call from the next. Read under a LibraryCall.
unsigned long library_call_number() noexcept;

// What a forked child must forget of its parent's state (connections, card
// handles, cached card data) before its first call uses it. Plain stores
// only are needed: the parent's objects may have been mid-change at the
// fork, so they are dropped, not freed. Set once, at load.
using ForgetInherited = void (*)() noexcept;
void forget_inherited_state_with(ForgetInherited forget) noexcept;

}  // namespace kit

#endif
