// Allocation failure on demand for code that allocates with operator new:
// this object file replaces the global operator new and delete (over
// malloc and free) in the test executable that links it. While a
// FailingNew lives, every operator new throws std::bad_alloc (the nothrow
// forms answer null). The AddressSanitizer's own operator new never throws,
// so an allocation cap cannot make a bad_alloc under it; this can.
#ifndef KIT_TESTS_ENGINE_FAILING_NEW_H
#define KIT_TESTS_ENGINE_FAILING_NEW_H

namespace kit::test {

class FailingNew {
public:
    FailingNew();
    ~FailingNew();
    FailingNew(const FailingNew&) = delete;
    FailingNew& operator=(const FailingNew&) = delete;
};

// call() with every allocation failing; a test's own checks run after.
template <typename Call>
auto with_failing_new(Call call) {
    const FailingNew failing;
    return call();
}

}  // namespace kit::test

#endif
