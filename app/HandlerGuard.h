// Holds the window's handler guard for one handler run. A handler that finds
// the guard already held (a change made by the program) does nothing.
#pragma once

class THandlerGuard {
public:
    explicit THandlerGuard(bool& guard) : Owned(!guard), Guard(guard) {
        if (Owned)
            Guard = true;
    }
    ~THandlerGuard() {
        if (Owned)
            Guard = false;
    }
    THandlerGuard(const THandlerGuard&) = delete;
    THandlerGuard& operator=(const THandlerGuard&) = delete;

    const bool Owned;

private:
    bool& Guard;
};

// Holds the guard while the program itself changes controls, so that no
// handler runs for those changes, and gives it back as it was found (the
// caller may hold it already).
class TGuardHeld {
public:
    explicit TGuardHeld(bool& guard) : Saved(guard), Guard(guard) { Guard = true; }
    ~TGuardHeld() { Guard = Saved; }
    TGuardHeld(const TGuardHeld&) = delete;
    TGuardHeld& operator=(const TGuardHeld&) = delete;

private:
    const bool Saved;
    bool& Guard;
};
