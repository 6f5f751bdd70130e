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
