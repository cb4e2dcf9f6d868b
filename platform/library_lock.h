// One lock per library: every export of libtarvik.so and libselvane.so
// holds it for the whole call, so calls from several threads run one at a
// time and never interleave their commands or mix their texts. Each
// library links its own copy of this unit, hence its own lock.
//
// Recursive: an export may call another export of its library (the BASIC
// face calls the flat API), and a kept lock (below) is held across calls.
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

// For a pair of exports that another library calls around several exports
// of this one (a card held over two files): the calling thread keeps the
// lock from a successful begin (keep_library_locked) to its end
// (release_kept_lock), so no other thread's call comes between. Both are
// called under a LibraryCall; a release with no hold kept does nothing.
void keep_library_locked() noexcept;
void release_kept_lock() noexcept;

// What a forked child must forget of its parent's state (connections, card
// handles, cached card data) before its first call uses it. Plain stores
// only are needed: the parent's objects may have been mid-change at the
// fork, so they are dropped, not freed. Set once, at load.
using ForgetInherited = void (*)() noexcept;
void forget_inherited_state_with(ForgetInherited forget) noexcept;

}  // namespace kit

#endif
